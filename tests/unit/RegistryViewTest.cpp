#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "registry/RegistryView.h"

namespace {

struct Selection {
    std::wstring path;
    REGSAM access = KEY_READ;
    bool skip = false;
};

Selection Select(std::wstring path, bool sixtyFourBitWindows) {
    Selection selection{std::move(path)};
    selection.skip = win32::SelectRegistryView(selection.path, selection.access, sixtyFourBitWindows);
    return selection;
}

TEST(RegistryViewFlags, MatchTheBuild) {
#ifdef _WIN64
    // A 64-bit build can only run on 64-bit Windows and must ask for the 32-bit view.
    EXPECT_TRUE(win32::IsWow64());
    EXPECT_EQ(win32::ThirtyTwoBitViewFlag(), static_cast<REGSAM>(KEY_WOW64_32KEY));
#else
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    EXPECT_EQ(win32::IsWow64(), wow64 != FALSE);
    EXPECT_EQ(win32::ThirtyTwoBitViewFlag(), 0u);
#endif
    EXPECT_EQ(win32::SixtyFourBitViewFlag(), static_cast<REGSAM>(KEY_WOW64_64KEY));
}

TEST(RegistrySelectView, SoftwarePathIsTheSixtyFourBitViewOnSixtyFourBitWindows) {
    const Selection selection = Select(L"hkey_local_machine\\software\\vendor", true);
    EXPECT_FALSE(selection.skip);
    EXPECT_EQ(selection.path, L"hkey_local_machine\\software\\vendor");
    EXPECT_EQ(selection.access, static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));

    const Selection user = Select(L"hkey_current_user\\software\\vendor\\app", true);
    EXPECT_EQ(user.path, L"hkey_current_user\\software\\vendor\\app");
    EXPECT_EQ(user.access, static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));
}

TEST(RegistrySelectView, Wow6432NodePathBecomesTheSamePathInTheThirtyTwoBitView) {
    const Selection selection = Select(L"hkey_local_machine\\software\\wow6432node\\vendor\\app", true);
    EXPECT_FALSE(selection.skip);
    EXPECT_EQ(selection.path, L"hkey_local_machine\\software\\vendor\\app");
    EXPECT_EQ(selection.access, KEY_READ | win32::ThirtyTwoBitViewFlag());

    const Selection user = Select(L"hkey_current_user\\software\\wow6432node\\vendor", true);
    EXPECT_EQ(user.path, L"hkey_current_user\\software\\vendor");
    EXPECT_EQ(user.access, KEY_READ | win32::ThirtyTwoBitViewFlag());
}

TEST(RegistrySelectView, OnThirtyTwoBitWindowsWow6432NodeDoesNotExistAndSoftwareNeedsNoFlag) {
    const Selection wow = Select(L"hkey_local_machine\\software\\wow6432node\\vendor", false);
    EXPECT_TRUE(wow.skip);

    const Selection software = Select(L"hkey_local_machine\\software\\vendor", false);
    EXPECT_FALSE(software.skip);
    EXPECT_EQ(software.path, L"hkey_local_machine\\software\\vendor");
    EXPECT_EQ(software.access, static_cast<REGSAM>(KEY_READ));
}

TEST(RegistrySelectView, PathsOutsideTheSoftwareRootsKeepTheDefaultView) {
    for (const wchar_t* path : {L"hkey_local_machine\\system\\x", L"hkey_local_machine\\software",
                                L"hkey_classes_root\\software\\wow6432node\\x", L"hkey_users\\.default\\software\\x",
                                L"vendor\\app"}) {
        const Selection selection = Select(path, true);
        EXPECT_FALSE(selection.skip) << path;
        EXPECT_EQ(selection.path, path);
        EXPECT_EQ(selection.access, static_cast<REGSAM>(KEY_READ)) << path;
    }
}

TEST(RegistrySelectView, OnlyTheThirdPieceSelectsTheThirtyTwoBitView) {
    const Selection selection = Select(L"hkey_local_machine\\software\\vendor\\wow6432node\\x", true);
    EXPECT_EQ(selection.path, L"hkey_local_machine\\software\\vendor\\wow6432node\\x");
    EXPECT_EQ(selection.access, static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));

    const Selection longer = Select(L"hkey_local_machine\\software\\wow6432nodes\\x", true);
    EXPECT_EQ(longer.path, L"hkey_local_machine\\software\\wow6432nodes\\x");
    EXPECT_EQ(longer.access, static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));
}

TEST(RegistrySelectView, RecognisesRootsAndWow6432NodeInAnyCase) {
    const Selection selection = Select(L"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Vendor", true);
    EXPECT_EQ(selection.path, L"HKEY_LOCAL_MACHINE\\Software\\Vendor");
    EXPECT_EQ(selection.access, KEY_READ | win32::ThirtyTwoBitViewFlag());
}

// A bare root comes from entries such as 'hklm\software\': it names the
// Software key itself and must not end the evaluation.
TEST(RegistrySelectView, BareSoftwareRootsNameTheSoftwareKeyOfTheirView) {
    Selection root;
    EXPECT_NO_THROW(root = Select(L"hkey_local_machine\\software\\", true));
    EXPECT_FALSE(root.skip);
    EXPECT_EQ(root.path, L"hkey_local_machine\\software\\");
    EXPECT_EQ(root.access, static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));

    for (const wchar_t* path : {L"hkey_local_machine\\software\\wow6432node\\", L"hkey_local_machine\\software\\wow6432node"}) {
        const Selection wow = Select(path, true);
        EXPECT_FALSE(wow.skip) << path;
        EXPECT_EQ(wow.path, L"hkey_local_machine\\software\\") << path;
        EXPECT_EQ(wow.access, KEY_READ | win32::ThirtyTwoBitViewFlag()) << path;
        EXPECT_TRUE(Select(path, false).skip) << path;
    }
}

TEST(RegistrySelectView, DefaultFollowsTheWindowsThisProgramRunsOn) {
    std::wstring path = L"hkey_local_machine\\software\\wow6432node\\vendor";
    REGSAM access = 0;
    const bool skip = win32::SelectRegistryView(path, access);
    EXPECT_EQ(skip, !win32::IsWow64());
    if (win32::IsWow64()) {
        EXPECT_EQ(path, L"hkey_local_machine\\software\\vendor");
    }
}

}  // namespace
