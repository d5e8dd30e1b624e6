#include "install/MinizipExtraction.h"

#include <windows.h>

#include <unzip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "install/BufferedZipInput.h"
#include "install/FolderPaths.h"
#include "install/UnzipHandle.h"
#include "install/ZipEntryPath.h"
#include "install/ZipEntryReader.h"

namespace {

using install::UniqueUnzipFile;

constexpr uLong kUtf8NameFlag = 1u << 11;
constexpr unsigned kCopyBufferSize = 64 * 1024;

struct EntryInfo {
    CStringW name;
    bool isFolder = false;
    ZPOS64_T compressedSize = 0;
    ZPOS64_T uncompressedSize = 0;
};

UniqueUnzipFile OpenArchive(const CStringW& archive) {
    // The wide-character file functions: the working folder lies below the
    // user's profile, whose name need not fit the ANSI code page.
    zlib_filefunc64_def fileFunctions{};
    install::FillBufferedWin32FileFunctions(&fileFunctions);
    return UniqueUnzipFile(::unzOpen2_64(archive.c_str(), &fileFunctions));
}

std::optional<EntryInfo> CurrentEntryInfo(unzFile archive) {
    unz_file_info64 info{};
    if (::unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return std::nullopt;
    std::vector<char> rawName(info.size_filename + 1, '\0');
    if (::unzGetCurrentFileInfo64(archive, &info, rawName.data(), static_cast<uLong>(rawName.size()), nullptr, 0,
                                  nullptr, 0) != UNZ_OK) {
        return std::nullopt;
    }
    const std::string name(rawName.data(), info.size_filename);
    EntryInfo entry;
    entry.name = ZipEntryNameText(name, (info.flag & kUtf8NameFlag) != 0);
    entry.isFolder = !name.empty() && (name.back() == '/' || name.back() == '\\');
    entry.compressedSize = info.compressed_size;
    entry.uncompressedSize = info.uncompressed_size;
    return entry;
}

// Judged on what is really inflated, chunk by chunk, before it is written.
bool CopyEntryData(install::ZipEntryReader& reader, HANDLE file, UnpackAccount& account) {
    std::vector<char> buffer(kCopyBufferSize);
    std::uint64_t unpacked = 0;
    for (;;) {
        const int read = reader.Read(buffer.data(), kCopyBufferSize);
        if (read < 0) return false;
        if (read == 0) return reader.Finish();
        unpacked += static_cast<std::uint64_t>(read);
        if (!account.Progress(reader.CompressedBytesRead(), unpacked)) return false;
        DWORD written = 0;
        if (!::WriteFile(file, buffer.data(), static_cast<DWORD>(read), &written, nullptr) ||
            written != static_cast<DWORD>(read)) {
            return false;
        }
    }
}

bool WriteCurrentEntry(unzFile archive, const CStringW& destination, UnpackAccount& account) {
    install::ZipEntryReader reader(archive);
    if (!reader.IsOpen()) return false;
    bool complete = false;
    {
        framework::UniqueKernelHandle file(::CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        complete = CopyEntryData(reader, file.Get(), account);
    }
    // Half an installer must not be found and started later.
    if (!complete) ::DeleteFileW(destination.c_str());
    return complete;
}

// Writes one entry; false stops the extraction. A refused entry is skipped,
// but counted like every other.
bool ExtractCurrentEntry(unzFile archive, const CStringW& folder, UnpackAccount& account, int& filesWritten) {
    if (!account.BeginEntry()) return false;
    const std::optional<EntryInfo> entry = CurrentEntryInfo(archive);
    if (!entry) return false;
    const std::optional<CStringW> relative = SafeZipEntryPath(entry->name);
    if (!relative) return true;
    const CStringW destination = JoinPath(folder, *relative);
    // The system's own reading of the path has the last word.
    if (!IsInsideFolder(folder, destination)) return true;
    if (entry->isFolder) return CreateFolderChain(folder, *relative);
    const CStringW parent = ParentOf(*relative);
    if (!parent.empty() && !CreateFolderChain(folder, parent)) return false;
    if (!WriteCurrentEntry(archive, destination, account)) return false;
    ++filesWritten;
    return true;
}

}  // namespace

bool ExtractZipWithMinizip(const CStringW& archive, const CStringW& folder, UnpackAccount& account) {
    const UniqueUnzipFile zip = OpenArchive(archive);
    if (!zip) return false;
    int filesWritten = 0;
    int status = ::unzGoToFirstFile(zip.Get());
    for (; status == UNZ_OK; status = ::unzGoToNextFile(zip.Get())) {
        if (!ExtractCurrentEntry(zip.Get(), folder, account, filesWritten)) return false;
    }
    return status == UNZ_END_OF_LIST_OF_FILE && filesWritten > 0;
}

bool ZipClaimsWithinLimits(const CStringW& archive, UnpackAccount& account) {
    const UniqueUnzipFile zip = OpenArchive(archive);
    if (!zip) return false;
    int status = ::unzGoToFirstFile(zip.Get());
    for (; status == UNZ_OK; status = ::unzGoToNextFile(zip.Get())) {
        if (!account.BeginEntry()) return false;
        const std::optional<EntryInfo> entry = CurrentEntryInfo(zip.Get());
        if (!entry || !account.Progress(entry->compressedSize, entry->uncompressedSize)) return false;
    }
    return status == UNZ_END_OF_LIST_OF_FILE;
}
