#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/RegistryPath.h"
#include "registry/RegistryView.h"

namespace {

using Paths = std::vector<std::wstring>;

TEST(RegistrySplitPath, ReadsPiecesLikeSuccessiveGetlineCalls) {
    EXPECT_EQ(win32::SplitPath(L"hkey_users\\.default\\x", L'\\'), (Paths{L"hkey_users", L".default", L"x"}));
    EXPECT_EQ(win32::SplitPath(L"a\\b\\", L'\\'), (Paths{L"a", L"b"}));
    EXPECT_EQ(win32::SplitPath(L"\\a\\\\b", L'\\'), (Paths{L"", L"a", L"", L"b"}));
    EXPECT_EQ(win32::SplitPath(L"\\", L'\\'), (Paths{L""}));
    EXPECT_EQ(win32::SplitPath(L"a\\b;c", L';'), (Paths{L"a\\b", L"c"}));
    EXPECT_TRUE(win32::SplitPath(L"", L'\\').empty());
}

TEST(RegistryExpandKeyPath, RelativePathNamesTheSoftwareRootsThenOn64BitWindowsTheWow6432NodeRoots) {
    const Paths software{L"hkey_local_machine\\software\\vendor\\app", L"hkey_current_user\\software\\vendor\\app"};
    Paths all = software;
    all.insert(all.end(), {L"hkey_local_machine\\software\\wow6432node\\vendor\\app",
                           L"hkey_current_user\\software\\wow6432node\\vendor\\app"});
    EXPECT_EQ(win32::ExpandKeyPath(L"vendor\\app", false), software);
    EXPECT_EQ(win32::ExpandKeyPath(L"vendor\\app", true), all);
    EXPECT_EQ(win32::ExpandKeyPath(L"vendor\\app"), win32::IsWow64() ? all : software);
    // A hive needs its backslash; anything else beginning with "hk" is a vendor.
    for (const wchar_t* vendor : {L"hklm", L"hkey_users", L"hkx\\tool", L"hklmx\\tool"}) {
        EXPECT_EQ(win32::ExpandKeyPath(vendor, false).front(),
                  std::wstring(L"hkey_local_machine\\software\\") + vendor);
    }
    EXPECT_TRUE(win32::ExpandKeyPath(L"", true).empty());
}

TEST(RegistryExpandKeyPath, HivesGiveOneFullPathInAnyCase) {
    for (std::wstring_view hive : win32::hiveNames) {
        const std::wstring path = std::wstring(hive) + L"\\software\\wow6432node\\x";
        EXPECT_EQ(win32::ExpandKeyPath(path, true), Paths{path});
    }
    for (const auto& [shortName, fullName] : win32::hiveAbbreviations) {
        EXPECT_EQ(win32::ExpandKeyPath(std::wstring(shortName) + L"\\software\\vendor", true),
                  Paths{std::wstring(fullName) + L"\\software\\vendor"});
    }
    EXPECT_EQ(win32::ExpandKeyPath(L"HKLM\\Software\\Vendor", false), Paths{L"hkey_local_machine\\Software\\Vendor"});
    EXPECT_EQ(win32::ExpandKeyPath(L"HKEY_Users\\.DEFAULT", false), Paths{L"hkey_users\\.DEFAULT"});
}

TEST(RegistryLowerCase, FoldsAccentedLettersWhateverTheRuntimeLocale) {
    EXPECT_EQ(win32::LowerCase(L"HKLM\\Vendor-1.0_X \u00c4PFEL \u00c9T\u00c9"),
              L"hklm\\vendor-1.0_x \u00e4pfel \u00e9t\u00e9");
}

}  // namespace
