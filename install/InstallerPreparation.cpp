#include "install/InstallerPreparation.h"

#include <windows.h>

#include <string>

#include "install/ExecutableSearch.h"
#include "install/FolderPaths.h"
#include "install/MinizipExtraction.h"
#include "core/WorkDirectory.h"

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

ZipExtraction ExtractZip(const CStringW& archive, const CStringW& folder, const ZipLimits& limits,
                         const std::atomic<bool>* cancelled) {
    UnpackAccount claims(limits, cancelled);
    if (!ZipClaimsWithinLimits(archive, claims)) return {false, claims.Refusal()};
    UnpackAccount unpacked(limits, cancelled);
    if (ExtractZipWithMinizip(archive, folder, unpacked)) return {true, {}};
    return {false, unpacked.Refusal()};
}

PreparedInstaller PrepareInstaller(const CStringW& path, ArchiveType type, const CStringW& folder,
                                   const std::atomic<bool>* cancelled) {
    if (type != ArchiveType::Zip) return {path, {}};
    const CStringW extractionFolder = CreateExtractionFolder(folder, path);
    if (extractionFolder.empty()) return {path, {}};
    const ZipExtraction extraction = ExtractZip(path, extractionFolder, ZipLimitsFor(extractionFolder), cancelled);
    if (!extraction.refusal.empty()) {
        // Whatever a refused archive had written so far goes at once.
        DeleteDirectoryTree(extractionFolder);
        return {CStringW(), extraction.refusal};
    }
    if (!extraction.extracted) {
        // Only an empty folder goes; what was written stays for the working
        // folder's own removal.
        ::RemoveDirectoryW(extractionFolder.c_str());
        return {path, {}};
    }
    const CStringW program = FindFirstExecutable(extractionFolder);
    return {program.empty() ? path : JoinPath(extractionFolder, program), {}};
}
