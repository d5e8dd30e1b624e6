#include "install/FolderPaths.h"

#include <windows.h>

CStringW JoinPath(const CStringW& folder, const CStringW& relative) {
    if (folder.empty()) return relative;
    const wchar_t last = folder.back();
    return last == L'\\' || last == L'/' ? folder + relative : folder + L'\\' + relative;
}

CStringW ParentOf(const CStringW& relative) {
    const size_t separator = relative.rfind(L'\\');
    return separator == CStringW::npos ? CStringW() : relative.substr(0, separator);
}

bool IsExistingFolder(const CStringW& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolderChain(const CStringW& folder, const CStringW& relative) {
    size_t end = 0;
    do {
        end = relative.find(L'\\', end + 1);
        const CStringW path = JoinPath(folder, relative.substr(0, end));
        if (!::CreateDirectoryW(path.c_str(), nullptr) && !IsExistingFolder(path)) return false;
    } while (end != CStringW::npos);
    return true;
}
