#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "framework/Handles.h"
#include "shell/ConfigurationManager.h"
#include "shell/WorkDirectory.h"
#include "tests/common/TestSupport.h"

namespace {

void WriteFile(const std::wstring& path, const char* text) {
    std::ofstream(std::filesystem::path(path)) << text;
}

std::wstring PendingRemovals() {
    wchar_t buffer[32768] = {};
    DWORD size = sizeof(buffer);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                       L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    std::wstring all(buffer, size / sizeof(wchar_t));
    for (wchar_t& c : all) {
        if (c == L'\0') c = L'|';
    }
    return all;
}

TEST(WorkDirectory, TreeIsRemovedWithEverythingInIt) {
    const std::wstring root = CreateWorkingDirectory();
    ASSERT_TRUE(::PathIsDirectoryW(root.c_str()));
    ::CreateDirectoryW((root + L"\\offer").c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\offer\\deeper").c_str(), nullptr);
    WriteFile(root + L"\\setup.exe", "x");
    WriteFile(root + L"\\offer\\deeper\\a.txt", "y");
    WriteFile(root + L"\\offer\\readonly.txt", "z");
    ::SetFileAttributesW((root + L"\\offer\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteDirectoryTree(root);
    EXPECT_FALSE(::PathFileExistsW(root.c_str()));
}

TEST(WorkDirectory, EmptyDirectoryIsRemovedToo) {
    const std::wstring root = CreateWorkingDirectory();
    DeleteDirectoryTree(root);
    EXPECT_FALSE(::PathFileExistsW(root.c_str()));
    // A path that is not there is no error.
    DeleteDirectoryTree(root);
    DeleteDirectoryTree(L"");
}

TEST(WorkDirectory, FilesInUseAreLeftForRemovalAtRestart) {
    const std::wstring root = CreateWorkingDirectory();
    const std::wstring busy = root + L"\\busy.exe";
    WriteFile(busy, "running");
    WriteFile(root + L"\\free.txt", "free");
    // Open without delete sharing, as a running installer would hold its file.
    framework::UniqueKernelHandle holder(::CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    DeleteDirectoryTree(root);
    EXPECT_FALSE(::PathFileExistsW((root + L"\\free.txt").c_str()));
    EXPECT_TRUE(::PathFileExistsW(busy.c_str()));
    const std::wstring pending = PendingRemovals();
    EXPECT_NE(pending.find(busy.substr(2)), std::wstring::npos) << pending;
    EXPECT_NE(pending.find(root.substr(2) + L"|"), std::wstring::npos) << pending;
    holder.Reset();
    ostrel::testing::RemoveDirectoryTree(root);
}

}  // namespace
