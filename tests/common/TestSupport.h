// Helpers shared by the test programs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/Strings.h"

namespace ostrel::testing {

// The progress bar is in its indeterminate (marquee) mode; works across processes.
bool HasMarqueeStyle(HWND bar);
// A new empty folder in the temporary folder; removed by RemoveDirectoryTree.
std::wstring MakeTemporaryFolder(const wchar_t* prefix);
// One entry of a folder listing.
struct FolderEntry {
    std::wstring name;
    bool isFolder = false;
};
// The entries matching pattern (a folder followed by "\\*", or by a name with
// wildcards), without "." and "..", in the order the system lists them.
std::vector<FolderEntry> ListFolder(const std::wstring& pattern);
// Removes a directory and everything below it; true when it is gone.
bool RemoveDirectoryTree(const std::wstring& path);
// Removes the working directory of the process-wide settings, if they exist.
void RemoveSharedWorkDirectory();
// Runs the message loop of this thread for the given time.
void PumpMessages(DWORD milliseconds);
// A folder name without the trailing separator, in lower case, for comparing paths.
std::wstring NormalisedFolder(std::wstring path);
// Where screenshots go (OSTREL_SCREENSHOT_DIR, else a folder beside the test program).
std::wstring ScreenshotFolder();
// The whole content of a file; nothing when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::wstring& path);
// Replaces a file's content; true when all of it was written.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The folder of the running test program (the wizard programs are built there too).
std::wstring ProgramFolder();

}  // namespace ostrel::testing
