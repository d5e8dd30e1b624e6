#include "core/WorkDirectory.h"

#include <windows.h>

#include <algorithm>

#include "framework/Handles.h"
#include "core/ConfigurationManager.h"
#include "core/FileObjects.h"

namespace {

// What removal through the handle needs; sharing no deletion, so nobody can
// rename the object or put a link in its place while it is being removed.
constexpr DWORD kRemovalAccess =
    DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kRemovalShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Enough to judge and list what someone else holds, without disturbing them;
// a file held with no sharing at all can still be judged by its attributes.
constexpr DWORD kLookAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kJudgeAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kLookShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What one removal knows throughout: the tree's root and the entries it spares.
struct Removal {
    CStringW root;
    const std::vector<CStringW>& spared;
};

void RemoveAtRestart(const Removal& removal, const CStringW& path) {
    // The system deletes these by name, as SYSTEM, long after the wizard has
    // gone: nothing outside the tree is ever handed to it.
    if (!IsWithinFolder(path, removal.root)) return;
    // Needs administrator rights, which the wizard has; a failure leaves the file.
    ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool IsInUse(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

bool IsSpared(const CStringW& path, const std::vector<CStringW>& spared) {
    return std::any_of(spared.begin(), spared.end(), [&](const CStringW& entry) { return SamePath(entry, path); });
}

FileObjectKind Judge(HANDLE handle, const CStringW& expectedFinalPath, DWORD listedAttributes) {
    const FileObjectKind kind = KindOf(handle, expectedFinalPath);
    // Listed as a link but opened as something else: the link was followed.
    if ((listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && kind != FileObjectKind::Link) {
        return FileObjectKind::Elsewhere;
    }
    return kind;
}

void RemoveEntry(const Removal& removal, const CStringW& path, const CStringW& expectedFinalPath,
                 DWORD listedAttributes, bool now);

// Everything in the directory held by handle; now false schedules it all for the restart.
void RemoveContents(const Removal& removal, HANDLE directory, const CStringW& path, bool now) {
    const CStringW folder = FinalPath(directory);
    for (const DirectoryEntry& entry : ListDirectory(directory)) {
        const CStringW expected = folder.empty() ? CStringW() : folder + L"\\" + entry.name;
        RemoveEntry(removal, path + L"\\" + entry.name, expected, entry.attributes, now);
    }
}

void RemoveEntry(const Removal& removal, const CStringW& path, const CStringW& expectedFinalPath,
                 DWORD listedAttributes, bool now) {
    now = now && !IsSpared(path, removal.spared);
    framework::UniqueKernelHandle handle;
    if (now) {
        handle = OpenWithoutFollowing(path, kRemovalAccess, kRemovalShare);
        // Gone already, or out of reach for reasons waiting will not mend.
        if (!handle && !IsInUse(::GetLastError())) return;
    }
    if (!handle) {
        // In use, or spared: judged and listed without taking it from its user.
        now = false;
        handle = OpenWithoutFollowing(path, kLookAccess, kLookShare);
        if (!handle) handle = OpenWithoutFollowing(path, kJudgeAccess, kLookShare);
        if (!handle) return;
    }

    const FileObjectKind kind = Judge(handle.Get(), expectedFinalPath, listedAttributes);
    if (kind == FileObjectKind::Link) {
        // The link itself goes, never what it points at.
        if (now) DeleteOnClose(handle.Get());
        return;
    }
    if (kind == FileObjectKind::Elsewhere) return;
    if (kind == FileObjectKind::Directory) RemoveContents(removal, handle.Get(), path, now);
    if (now && DeleteOnClose(handle.Get())) return;
    const DWORD error = ::GetLastError();
    handle.Reset();
    // A directory that keeps something scheduled is scheduled after it.
    if (!now || kind == FileObjectKind::Directory || IsInUse(error)) RemoveAtRestart(removal, path);
}

}  // namespace

void DeleteDirectoryTree(const CStringW& directory, const std::vector<CStringW>& spared) {
    if (directory.empty()) return;
    const CStringW path = WithoutTrailingSeparators(directory);
    // The name's own attributes only ever make the judgement more careful.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    RemoveEntry(Removal{path, spared}, path, ExpectedFinalPath(path), attributes, true);
}

bool IsWithinFolder(const CStringW& path, const CStringW& folder) {
    const CStringW root = WithoutTrailingSeparators(folder);
    if (root.empty() || path.size() < root.size() || !SamePath(path.substr(0, root.size()), root)) return false;
    if (path.size() == root.size()) return true;
    if (path[root.size()] != L'\\') return false;
    // Every part below the root names an entry of its own: no way up or
    // sideways ("..", "."), no other separator, no empty part, no stream.
    const CStringW below = path.substr(root.size() + 1);
    size_t start = 0;
    for (;;) {
        const size_t end = below.find(L'\\', start);
        const CStringW part = below.substr(start, end == CStringW::npos ? CStringW::npos : end - start);
        if (part.empty() || part == L"." || part == L".." || part.find_first_of(L"/:") != CStringW::npos) return false;
        if (end == CStringW::npos) return true;
        start = end + 1;
    }
}

std::vector<CStringW> EntriesHolding(const CStringW& directory, const std::vector<CStringW>& programs) {
    const CStringW folder = WithoutTrailingSeparators(directory) + L"\\";
    std::vector<CStringW> entries;
    for (const CStringW& program : programs) {
        if (program.size() <= folder.size() || !SamePath(program.substr(0, folder.size()), folder)) continue;
        const CStringW entry =
            folder + program.substr(folder.size(), program.find(L'\\', folder.size()) - folder.size());
        if (!IsSpared(entry, entries)) entries.push_back(entry);
    }
    return entries;
}

void DeleteWorkDirectory() {
    auto settings = ConfigurationManager::GetInstance();
    DeleteDirectoryTree(settings->workDirectory,
                        EntriesHolding(settings->workDirectory, settings->runningInstallers.StopStartsAndList()));
}
