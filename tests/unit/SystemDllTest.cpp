// The path a delay-loaded DLL is loaded from and what the user is told when a
// DLL or one of its functions is missing (shell/SystemDll.h).
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "shell/SystemDll.h"

namespace {

TEST(SystemDll, APlainNameIsLoadedFromTheSystemFolderByItsFullPath) {
    EXPECT_EQ(SystemDllPath(L"C:\\Windows\\system32", "gdiplus.dll"), L"C:\\Windows\\system32\\gdiplus.dll");
    EXPECT_EQ(SystemDllPath(L"C:\\Windows\\system32\\", "WinHttp.dll"), L"C:\\Windows\\system32\\WinHttp.dll");
}

TEST(SystemDll, ANameThatCouldLeaveTheSystemFolderHasNoPath) {
    for (const char* name : {"", "..", "..\\evil.dll", "sub/evil.dll", "C:evil.dll", "\\\\host\\share\\x.dll", "a..dll",
                             "caf\xC3\xA9.dll"}) {
        EXPECT_EQ(SystemDllPath(L"C:\\Windows\\system32", name), std::nullopt) << name;
    }
    EXPECT_EQ(SystemDllPath(L"", "gdiplus.dll"), std::nullopt);
}

TEST(SystemDll, TheDllLoadedIsTheSystemFoldersCopy) {
    HMODULE module = LoadSystemDll("version.dll");
    ASSERT_NE(module, nullptr);
    wchar_t loaded[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(module, loaded, MAX_PATH), 0u);
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(::_wcsicmp(loaded, (std::wstring(system) + L"\\version.dll").c_str()), 0) << loaded;
    ::FreeLibrary(module);
    EXPECT_EQ(LoadSystemDll("no-such-library.dll"), nullptr);
    EXPECT_EQ(LoadSystemDll("..\\version.dll"), nullptr);
}

TEST(SystemDll, TheMessageNamesTheDllAndTheMissingFunction) {
    EXPECT_EQ(MissingImportText("gdiplus.dll", ""),
              L"Setup cannot continue: the system file gdiplus.dll could not be loaded.");
    EXPECT_EQ(MissingImportText("winhttp.dll", "WinHttpOpen"),
              L"Setup cannot continue: the function WinHttpOpen of the system file winhttp.dll could not be found.");
}

}  // namespace
