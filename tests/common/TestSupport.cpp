#include "tests/common/TestSupport.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <cwctype>
#include <vector>

#include "framework/Handles.h"
#include "core/ConfigurationManager.h"

namespace ostrel::testing {

bool HasMarqueeStyle(HWND bar) {
    return (::GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) != 0;
}

std::wstring MakeTemporaryFolder(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t path[MAX_PATH] = {};
    // A unique file name, replaced by a folder of the same name.
    ::GetTempFileNameW(temp, prefix, 0, path);
    ::DeleteFileW(path);
    ::CreateDirectoryW(path, nullptr);
    return path;
}

std::vector<FolderEntry> ListFolder(const std::wstring& pattern) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW entry;
    framework::UniqueFindHandle search(::FindFirstFileW(pattern.c_str(), &entry));
    if (!search) return entries;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({name, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (::FindNextFileW(search.Get(), &entry));
    return entries;
}

bool RemoveDirectoryTree(const std::wstring& path) {
    if (path.empty()) return true;
    for (const FolderEntry& entry : ListFolder(path + L"\\*")) {
        const std::wstring full = path + L"\\" + entry.name;
        if (entry.isFolder) {
            RemoveDirectoryTree(full);
        } else {
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(full.c_str());
        }
    }
    ::RemoveDirectoryW(path.c_str());
    return !::PathFileExistsW(path.c_str());
}

void RemoveSharedWorkDirectory() {
    RemoveDirectoryTree(ConfigurationManager::GetInstance()->workDirectory);
}

void PumpMessages(DWORD milliseconds) {
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    do {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(5);
    } while (::GetTickCount64() < end);
}

std::wstring NormalisedFolder(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    std::transform(path.begin(), path.end(), path.begin(), [](wchar_t c) { return std::towlower(c); });
    return path;
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file << bytes;
    return static_cast<bool>(file);
}

std::wstring ProgramFolder() {
    std::vector<wchar_t> buffer(MAX_PATH * 4);
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring ScreenshotFolder() {
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"OSTREL_SCREENSHOT_DIR", buffer, MAX_PATH * 2);
    if (length > 0 && length < MAX_PATH * 2) return buffer;
    return ProgramFolder() + L"\\screenshots";
}

}  // namespace ostrel::testing
