#include "core/FileObjects.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kListingBufferBytes = 64 * 1024;

}  // namespace

CStringW WithoutTrailingSeparators(CStringW path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

bool SamePath(const CStringW& a, const CStringW& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

namespace {

DWORD AttributesOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(handle, &information) ? information.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool ClearReadOnly(HANDLE handle) {
    const DWORD attributes = AttributesOf(handle);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return true;
    FILE_BASIC_INFO basic{};  // zero times stay as they are
    basic.FileAttributes = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
}

}  // namespace

framework::UniqueKernelHandle OpenWithoutFollowing(const CStringW& path, DWORD access, DWORD share) {
    framework::UniqueKernelHandle handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                       nullptr));
    return handle;
}

CStringW FinalPath(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < buffer.size()) return WithoutTrailingSeparators(CStringW(buffer.data(), length));
        buffer.resize(length + 1);
    }
}

CStringW FinalPathOfEntry(HANDLE directory, const CStringW& name) {
    const CStringW folder = FinalPath(directory);
    return folder.empty() ? CStringW() : folder + L"\\" + name;
}

CStringW ExpectedFinalPath(const CStringW& path) {
    const CStringW trimmed = WithoutTrailingSeparators(path);
    const size_t separator = trimmed.find_last_of(L"\\/");
    if (separator == CStringW::npos || separator + 1 >= trimmed.size()) return {};
    // The parent folders may be links (a temporary folder moved to another
    // drive); only the last part has to be what it says.
    const framework::UniqueKernelHandle parent(::CreateFileW(trimmed.substr(0, separator + 1).c_str(),
                                                             FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return parent ? FinalPathOfEntry(parent.Get(), trimmed.substr(separator + 1)) : CStringW();
}

FileObjectKind KindOf(HANDLE handle, const CStringW& expectedFinalPath) {
    const DWORD attributes = AttributesOf(handle);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileObjectKind::Elsewhere;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileObjectKind::Link;
    // A system that follows a link even when told not to (Wine follows Unix
    // links) shows a plain object, but not at the place that was opened.
    // Where the system cannot name places, the attributes have the last word.
    const CStringW finalPath = FinalPath(handle);
    if (!finalPath.empty() && !expectedFinalPath.empty() && !SamePath(finalPath, expectedFinalPath)) {
        return FileObjectKind::Elsewhere;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileObjectKind::Directory : FileObjectKind::File;
}

std::vector<DirectoryEntry> ListDirectory(HANDLE directory) {
    std::vector<DirectoryEntry> entries;
    std::vector<LONGLONG> buffer(kListingBufferBytes / sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS query = FileFullDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(directory, query, buffer.data(), static_cast<DWORD>(kListingBufferBytes))) {
        query = FileFullDirectoryInfo;
        const auto* base = reinterpret_cast<const std::byte*>(buffer.data());
        for (size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(base + offset);
            const CStringW name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") entries.push_back({name, entry->FileAttributes});
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
    return entries;
}

bool DeleteOnClose(HANDLE handle) {
    ClearReadOnly(handle);
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition));
}

bool CreateNewDirectory(const CStringW& path, SECURITY_ATTRIBUTES* security) {
    // Fails with ERROR_ALREADY_EXISTS on anything of that name, link or not.
    if (!::CreateDirectoryW(path.c_str(), security)) return false;
    const framework::UniqueKernelHandle directory = OpenWithoutFollowing(path, FILE_READ_ATTRIBUTES, kShareAll);
    return directory && KindOf(directory.Get(), ExpectedFinalPath(path)) == FileObjectKind::Directory;
}

framework::UniqueKernelHandle CreateNewFile(const CStringW& path, DWORD access, DWORD share) {
    // CREATE_NEW fails on anything of that name; with FILE_FLAG_OPEN_REPARSE_POINT
    // a link there is that name too, never followed to make its target.
    framework::UniqueKernelHandle file(::CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW,
                                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return file;
    if (KindOf(file.Get(), ExpectedFinalPath(path)) != FileObjectKind::File) {
        // Whatever this is, it is not the file just made: left alone.
        file.Reset();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return file;
}

bool RenameThroughHandle(HANDLE handle, const CStringW& newPath) {
    const size_t nameBytes = newPath.size() * sizeof(wchar_t);
    std::vector<LONGLONG> buffer((sizeof(FILE_RENAME_INFO) + nameBytes + sizeof(LONGLONG)) / sizeof(LONGLONG));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, newPath.c_str(), nameBytes);
    return ::SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size() * sizeof(LONGLONG))) != FALSE;
}
