#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "install/ZipEntryPath.h"

namespace {

TEST(SafeZipEntryPath, KeepsNamesBelowTheFolderWithWindowsSeparators) {
    const std::vector<std::pair<CStringW, CStringW>> accepted{
        {L"setup.exe", L"setup.exe"},
        {L"bin/tools/setup.exe", L"bin\\tools\\setup.exe"},
        {L"bin\\setup.exe", L"bin\\setup.exe"},
        {L"docs/", L"docs"},
        {L"a//b.txt", L"a\\b.txt"},
        {L"..data/x..y.exe", L"..data\\x..y.exe"},
        {L"console.exe", L"console.exe"},
    };
    for (const auto& [name, relative] : accepted) {
        const std::optional<CStringW> result = SafeZipEntryPath(name);
        ASSERT_TRUE(result.has_value()) << std::string(name.begin(), name.end());
        EXPECT_EQ(*result, relative);
    }
}

TEST(SafeZipEntryPath, RefusesNamesThatLeaveTheFolderOrNameDevices) {
    const std::vector<CStringW> refused{
        L"",
        L"../setup.exe",
        L"..\\setup.exe",
        L"bin/../../setup.exe",
        L"..",
        L"./../x.exe",
        L"... /x.exe",
        L"/setup.exe",
        L"\\setup.exe",
        L"\\\\server\\share\\x.exe",
        L"C:/x.exe",
        L"C:x.exe",
        L"x.exe:stream",
        L"bin./x.exe",
        L"bin /x.exe",
        L"con",
        L"CON.txt",
        L"lpt1/x.exe",
        L"nul .txt",
        L"COM9",
        L"a\x01.exe",
        L"what?.exe",
        L"a|b.exe",
        L"/",
        L"bin/./x.exe",
    };
    for (const CStringW& name : refused) {
        EXPECT_FALSE(SafeZipEntryPath(name).has_value()) << std::string(name.begin(), name.end());
    }
}

TEST(ZipEntryNameText, ReadsUtf8WhenFlaggedAndCodePage437Otherwise) {
    const std::string bytes("caf\xC3\xA9.exe");
    EXPECT_EQ(ZipEntryNameText(bytes, true), L"caf\u00E9.exe");
    // The same bytes in code page 437 are two box-drawing characters.
    EXPECT_EQ(ZipEntryNameText(bytes, false), L"caf\u251C\u2310.exe");
    EXPECT_EQ(ZipEntryNameText(std::string("\x82t\x82.exe"), false), L"\u00E9t\u00E9.exe");
}

TEST(IsInsideFolder, JudgesThePathTheSystemWouldOpen) {
    const CStringW folder = L"C:\\work\\offer";
    EXPECT_TRUE(IsInsideFolder(folder, L"C:\\work\\offer\\setup.exe"));
    EXPECT_TRUE(IsInsideFolder(folder + L"\\", L"c:\\WORK\\offer\\bin\\setup.exe"));
    EXPECT_FALSE(IsInsideFolder(folder, L"C:\\work\\offer\\..\\setup.exe"));
    EXPECT_FALSE(IsInsideFolder(folder, L"C:\\work\\offer"));
    EXPECT_FALSE(IsInsideFolder(folder, L"C:\\work\\offer2\\setup.exe"));
    EXPECT_FALSE(IsInsideFolder(folder, L"D:\\setup.exe"));
}

}  // namespace
