#include "install/InstallerPreparation.h"

#include <windows.h>

#include <string>

#include "framework/Bstr.h"
#include "install/ExecutableSearch.h"
#include "install/FolderPaths.h"
#include "install/MinizipExtraction.h"
#include "install/ShellZipExtraction.h"
#include "shell/WorkDirectory.h"

namespace {

constexpr wchar_t kUnnamedArchiveFolder[] = L"package";
constexpr int kMaxFolderNumber = 1000;

CStringW ArchiveStem(const CStringW& archive) {
    const size_t separator = archive.find_last_of(L"\\/");
    CStringW name = separator == CStringW::npos ? archive : archive.substr(separator + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != CStringW::npos && dot != 0) name.resize(dot);
    // Windows would drop these and two archives could then meet in one folder.
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    return name.empty() ? CStringW(kUnnamedArchiveFolder) : name;
}

bool ExtractWithShell(const CStringW& archive, const CStringW& folder) {
    const framework::UniqueBstr archiveText = framework::AllocateBstr(archive);
    const framework::UniqueBstr folderText = framework::AllocateBstr(folder);
    return archiveText && folderText && ExtractZipWithShell(archiveText.Get(), folderText.Get());
}

}  // namespace

CStringW CreateExtractionFolder(const CStringW& folder, const CStringW& archive) {
    const CStringW stem = ArchiveStem(archive);
    for (int number = 1; number <= kMaxFolderNumber; ++number) {
        const CStringW name = number == 1 ? stem : stem + L" (" + std::to_wstring(number) + L")";
        const CStringW candidate = JoinPath(folder, name);
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) return candidate;
        // Anything but a taken name (no folder, no rights) will not get better.
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

bool ExtractZip(const CStringW& archive, const CStringW& folder) {
    if (!ZipHoldsRefusedEntries(archive) && ExtractWithShell(archive, folder)) return true;
    return ExtractZipWithMinizip(archive, folder);
}

CStringW PrepareInstaller(const CStringW& path, ArchiveType type, const CStringW& folder) {
    if (type != ArchiveType::Zip) return path;
    const CStringW extractionFolder = CreateExtractionFolder(folder, path);
    if (extractionFolder.empty()) return path;
    if (!ExtractZip(path, extractionFolder)) {
        // What was written goes with it, removed as the working folder is:
        // never through a link someone put there meanwhile.
        DeleteDirectoryTree(extractionFolder);
        return path;
    }
    const CStringW program = FindFirstExecutable(extractionFolder);
    return program.empty() ? path : JoinPath(extractionFolder, program);
}
