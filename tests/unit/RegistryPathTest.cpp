#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/RegistryPath.h"
#include "registry/RegistryView.h"

namespace {

using Pieces = std::vector<std::wstring>;

TEST(RegistrySplitPath, ReadsPiecesLikeSuccessiveGetlineCalls) {
    EXPECT_EQ(win32::SplitPath(L"hkey_local_machine\\software\\vendor", L'\\'),
              (Pieces{L"hkey_local_machine", L"software", L"vendor"}));
    EXPECT_EQ(win32::SplitPath(L"a\\b\\", L'\\'), (Pieces{L"a", L"b"}));
    EXPECT_EQ(win32::SplitPath(L"a\\\\b", L'\\'), (Pieces{L"a", L"", L"b"}));
    EXPECT_EQ(win32::SplitPath(L"\\a", L'\\'), (Pieces{L"", L"a"}));
    EXPECT_EQ(win32::SplitPath(L"\\", L'\\'), (Pieces{L""}));
    EXPECT_EQ(win32::SplitPath(L"\\\\", L'\\'), (Pieces{L"", L""}));
    EXPECT_EQ(win32::SplitPath(L"single", L'\\'), (Pieces{L"single"}));
    EXPECT_TRUE(win32::SplitPath(L"", L'\\').empty());
}

TEST(RegistrySplitPath, SplitsAtTheGivenSeparatorOnly) {
    EXPECT_EQ(win32::SplitPath(L"a\\b;c", L';'), (Pieces{L"a\\b", L"c"}));
}

TEST(RegistryExpandKeyPath, RelativePathNamesBothSoftwareRootsThenBothWow6432NodeRoots) {
    EXPECT_EQ(win32::ExpandKeyPath(L"vendor\\app", true),
              (Pieces{L"hkey_local_machine\\software\\vendor\\app", L"hkey_current_user\\software\\vendor\\app",
                      L"hkey_local_machine\\software\\wow6432node\\vendor\\app",
                      L"hkey_current_user\\software\\wow6432node\\vendor\\app"}));
    EXPECT_EQ(win32::ExpandKeyPath(L"vendor\\app", false),
              (Pieces{L"hkey_local_machine\\software\\vendor\\app", L"hkey_current_user\\software\\vendor\\app"}));
}

TEST(RegistryExpandKeyPath, FollowsTheWindowsThisProgramRunsOn) {
    EXPECT_EQ(win32::ExpandKeyPath(L"vendor"), win32::ExpandKeyPath(L"vendor", win32::IsWow64()));
}

TEST(RegistryExpandKeyPath, EmptyPathNamesNothing) {
    EXPECT_TRUE(win32::ExpandKeyPath(L"", true).empty());
    EXPECT_TRUE(win32::ExpandKeyPath(L"", false).empty());
}

TEST(RegistryExpandKeyPath, FullHiveNamesAreKeptAsTheyAre) {
    for (std::wstring_view hive : win32::hiveNames) {
        const std::wstring path = std::wstring(hive) + L"\\.default\\x";
        EXPECT_EQ(win32::ExpandKeyPath(path, true), Pieces{path});
        EXPECT_EQ(win32::ExpandKeyPath(path, false), Pieces{path});
    }
}

TEST(RegistryExpandKeyPath, AbbreviatedHivesAreWrittenOut) {
    for (const auto& [shortName, fullName] : win32::hiveAbbreviations) {
        const std::wstring path = std::wstring(shortName) + L"\\software\\vendor";
        EXPECT_EQ(win32::ExpandKeyPath(path, true), Pieces{std::wstring(fullName) + L"\\software\\vendor"});
    }
    EXPECT_EQ(win32::ExpandKeyPath(L"hkcu\\software\\vendor", true), Pieces{L"hkey_current_user\\software\\vendor"});
}

TEST(RegistryExpandKeyPath, Wow6432NodePathIsOneFullPath) {
    EXPECT_EQ(win32::ExpandKeyPath(L"hklm\\software\\wow6432node\\vendor", true),
              Pieces{L"hkey_local_machine\\software\\wow6432node\\vendor"});
    EXPECT_EQ(win32::ExpandKeyPath(L"hkey_current_user\\software\\wow6432node\\vendor", false),
              Pieces{L"hkey_current_user\\software\\wow6432node\\vendor"});
}

TEST(RegistryExpandKeyPath, HiveWithoutBackslashOrUnknownHiveIsAVendorName) {
    EXPECT_EQ(win32::ExpandKeyPath(L"hklm", false),
              (Pieces{L"hkey_local_machine\\software\\hklm", L"hkey_current_user\\software\\hklm"}));
    EXPECT_EQ(win32::ExpandKeyPath(L"hkey_users", false).front(), L"hkey_local_machine\\software\\hkey_users");
    EXPECT_EQ(win32::ExpandKeyPath(L"hkx\\tool", true).size(), 4u);
    EXPECT_EQ(win32::ExpandKeyPath(L"hkey_local\\tool", true).size(), 4u);
    EXPECT_EQ(win32::ExpandKeyPath(L"hklmx\\tool", true).size(), 4u);
}

TEST(RegistryExpandKeyPath, HiveNamesAreRecognisedInAnyCase) {
    EXPECT_EQ(win32::ExpandKeyPath(L"HKLM\\Software\\Vendor", true), Pieces{L"hkey_local_machine\\Software\\Vendor"});
    EXPECT_EQ(win32::ExpandKeyPath(L"HKEY_Users\\.DEFAULT", true), Pieces{L"hkey_users\\.DEFAULT"});
}

TEST(RegistryHives, FullNamesGiveTheirPredefinedKeysInAnyCase) {
    EXPECT_EQ(win32::HiveHandle(L"hkey_local_machine"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(win32::HiveHandle(L"hkey_current_user"), HKEY_CURRENT_USER);
    EXPECT_EQ(win32::HiveHandle(L"hkey_classes_root"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(win32::HiveHandle(L"hkey_users"), HKEY_USERS);
    EXPECT_EQ(win32::HiveHandle(L"hkey_current_config"), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(win32::HiveHandle(L"HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE);
}

TEST(RegistryHives, AbbreviationsAndOtherTextAreNoHive) {
    EXPECT_EQ(win32::HiveHandle(L"hklm"), nullptr);
    EXPECT_EQ(win32::HiveHandle(L""), nullptr);
    EXPECT_EQ(win32::HiveHandle(L"hkey_local_machine\\"), nullptr);
    EXPECT_EQ(win32::HiveHandle(L"software"), nullptr);
}

TEST(RegistrySoftwareRoots, RootLengthIsThatOfTheRootThePathBeginsWith) {
    EXPECT_EQ(win32::SoftwareRootLength(L"hkey_local_machine\\software\\v"), win32::softwareRoots[0].size());
    EXPECT_EQ(win32::SoftwareRootLength(L"HKEY_CURRENT_USER\\Software\\v"), win32::softwareRoots[1].size());
    EXPECT_EQ(win32::SoftwareRootLength(L"hkey_local_machine\\software"), 0u);
    EXPECT_EQ(win32::SoftwareRootLength(L"hkey_classes_root\\software\\v"), 0u);
    EXPECT_EQ(win32::SoftwareRootLength(L"hkey_local_machine\\system\\software\\"), 0u);
}

TEST(RegistryLowerCase, FoldsAsciiAndAccentedLettersAndKeepsTheRest) {
    EXPECT_EQ(win32::LowerCase(L"HKLM\\Software\\Vendor-1.0_X"), L"hklm\\software\\vendor-1.0_x");
    EXPECT_EQ(win32::LowerCase(L"\u00c4PFEL \u00c9T\u00c9"), L"\u00e4pfel \u00e9t\u00e9");
    EXPECT_EQ(win32::LowerCase(L""), L"");
}

}  // namespace
