#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "registry/RegistryView.h"

namespace {

TEST(RegistryViewFlags, MatchTheBuild) {
#ifdef _WIN64
    // A 64-bit build runs only on 64-bit Windows and must ask for the 32-bit view.
    EXPECT_TRUE(win32::IsWow64());
    EXPECT_EQ(win32::ThirtyTwoBitViewFlag(), static_cast<REGSAM>(KEY_WOW64_32KEY));
#else
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    EXPECT_EQ(win32::IsWow64(), wow64 != FALSE);
    EXPECT_EQ(win32::ThirtyTwoBitViewFlag(), 0u);
#endif
}

struct Case {
    const wchar_t* path;
    bool sixtyFourBitWindows;
    bool skip;
    const wchar_t* selectedPath;
    REGSAM addedFlag;
};

TEST(RegistrySelectView, RewritesPathsAndAddsTheFlagOfTheViewTheyName) {
    const REGSAM bits32 = win32::ThirtyTwoBitViewFlag();
    const Case cases[] = {
        {L"hkey_local_machine\\software\\vendor", true, false, L"hkey_local_machine\\software\\vendor",
         KEY_WOW64_64KEY},
        {L"hkey_current_user\\software\\v\\app", true, false, L"hkey_current_user\\software\\v\\app", KEY_WOW64_64KEY},
        {L"hkey_local_machine\\software\\vendor", false, false, L"hkey_local_machine\\software\\vendor", 0},
        {L"hkey_local_machine\\software\\wow6432node\\v\\app", true, false, L"hkey_local_machine\\software\\v\\app",
         bits32},
        {L"hkey_current_user\\software\\wow6432node\\v", true, false, L"hkey_current_user\\software\\v", bits32},
        {L"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\V", true, false, L"HKEY_LOCAL_MACHINE\\Software\\V", bits32},
        {L"hkey_local_machine\\software\\wow6432node\\v", false, true, nullptr, 0},
        // Only the piece right after Software names the 32-bit view.
        {L"hkey_local_machine\\software\\v\\wow6432node", true, false, L"hkey_local_machine\\software\\v\\wow6432node",
         KEY_WOW64_64KEY},
        {L"hkey_local_machine\\software\\wow6432nodes", true, false, L"hkey_local_machine\\software\\wow6432nodes",
         KEY_WOW64_64KEY},
        {L"hkey_local_machine\\software\\wow6432node", true, false, L"hkey_local_machine\\software\\", bits32},
        {L"hkey_local_machine\\software\\wow6432node\\", false, true, nullptr, 0},
        // Everything else opens in the default view.
        {L"hkey_local_machine\\system\\x", true, false, L"hkey_local_machine\\system\\x", 0},
        {L"hkey_local_machine\\software", true, false, L"hkey_local_machine\\software", 0},
        {L"hkey_classes_root\\software\\wow6432node\\x", true, false, L"hkey_classes_root\\software\\wow6432node\\x",
         0},
    };
    for (const Case& c : cases) {
        std::wstring path = c.path;
        REGSAM access = KEY_READ;
        EXPECT_EQ(win32::SelectRegistryView(path, access, c.sixtyFourBitWindows), c.skip) << c.path;
        if (c.skip) continue;
        EXPECT_EQ(path, c.selectedPath) << c.path;
        EXPECT_EQ(access, KEY_READ | c.addedFlag) << c.path;
    }
}

TEST(RegistrySelectView, BareSoftwareRootIsAMalformedEntry) {
    for (const bool sixtyFourBitWindows : {true, false}) {
        std::wstring path = L"hkey_local_machine\\software\\";
        REGSAM access = KEY_READ;
        try {
            win32::SelectRegistryView(path, access, sixtyFourBitWindows);
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid vector subscript");
        }
    }
}

TEST(RegistrySelectView, DefaultFollowsTheWindowsThisProgramRunsOn) {
    std::wstring path = L"hkey_local_machine\\software\\wow6432node\\vendor";
    REGSAM access = 0;
    EXPECT_EQ(win32::SelectRegistryView(path, access), !win32::IsWow64());
}

}  // namespace
