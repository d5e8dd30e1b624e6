#include "shell/WorkDirectory.h"

#include <windows.h>
#include <shlwapi.h>

#include "framework/Handles.h"
#include "shell/ConfigurationManager.h"

namespace {

void RemoveAtRestart(const CStringW& path) {
    // Needs administrator rights, which the wizard has; a failure leaves the file.
    ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void DeleteFileNowOrAtRestart(const CStringW& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileW(path.c_str())) return;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) RemoveAtRestart(path);
}

}  // namespace

void DeleteDirectoryTree(const CStringW& directory) {
    if (directory.empty() || !::PathFileExistsW(directory.c_str())) return;
    WIN32_FIND_DATAW entry;
    framework::UniqueFindHandle search(::FindFirstFileW((directory + L"\\*.*").c_str(), &entry));
    if (search) {
        do {
            const CStringW name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const CStringW path = directory + L"\\" + name;
            // A link to a folder is removed as a link, never followed.
            const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            if (folder) {
                DeleteDirectoryTree(path);
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!::RemoveDirectoryW(path.c_str())) RemoveAtRestart(path);
            } else {
                DeleteFileNowOrAtRestart(path);
            }
        } while (::FindNextFileW(search.Get(), &entry));
    }
    search.Reset();
    if (!::RemoveDirectoryW(directory.c_str())) RemoveAtRestart(directory);
}

void DeleteWorkDirectory() {
    DeleteDirectoryTree(ConfigurationManager::GetInstance()->workDirectory);
}
