#include <windows.h>

#include <gtest/gtest.h>

#include "core/ConfigurationManager.h"
#include "core/PathMacros.h"

namespace {

TEST(PathMacros, MapHoldsTheUsersFoldersAndThe64BitProgramFolder) {
    auto settings = ConfigurationManager::GetInstance();
    const PathMacroMap macros = settings->GetPathMacros();
    EXPECT_EQ(macros.at(L"localappdata"), GetKnownFolderPath(FOLDERID_LocalAppData, false));
    EXPECT_EQ(macros.at(L"programdata"), GetKnownFolderPath(FOLDERID_ProgramData, false));
    EXPECT_EQ(macros.at(L"commonpf32"), GetKnownFolderPath(FOLDERID_ProgramFilesX86, false));
    // "commonappdata" is the roaming folder, not the all-users one.
    EXPECT_EQ(macros.at(L"commonappdata"), GetKnownFolderPath(FOLDERID_RoamingAppData, false));
    EXPECT_NE(macros.at(L"commonappdata"), macros.at(L"programdata"));

    wchar_t programW6432[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"ProgramW6432", programW6432, MAX_PATH), 0u);
    EXPECT_EQ(macros.at(L"commonpf64"), programW6432);
    const PathMacroMap only64 = settings->GetPathMacros64();
    ASSERT_EQ(only64.size(), 1u);
    EXPECT_EQ(only64.at(L"commonpf64"), programW6432);
}

TEST(PathMacros, ExpansionIsExactAndLeavesUnknownNames) {
    const PathMacroMap macros{{L"programdata", L"C:\\ProgramData"}, {L"commonpf64", L"C:\\Program Files"}};
    EXPECT_EQ(ExpandPathMacros(L"{programdata}\\a\\{programdata}\\b", macros),
              L"C:\\ProgramData\\a\\C:\\ProgramData\\b");
    EXPECT_EQ(ExpandPathMacros(L"{commonpf64}\\App\\app.exe", macros), L"C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(ExpandPathMacros(L"{ProgramData}\\x", macros), L"{ProgramData}\\x");
    EXPECT_EQ(ExpandPathMacros(L"{unknown}\\x", macros), L"{unknown}\\x");
    // A value holding its own macro is not expanded again.
    EXPECT_EQ(ExpandPathMacros(L"{self}", PathMacroMap{{L"self", L"{self}{self}"}}), L"{self}{self}");
    EXPECT_EQ(ExpandPathMacros(L"{programdata}\\x", PathMacroMap{{L"programdata", L""}}), L"\\x");
}

}  // namespace
