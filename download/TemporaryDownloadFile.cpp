#include "download/TemporaryDownloadFile.h"

#include <bcrypt.h>

#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "download/ErrorText.h"
#include "download/FileNames.h"
#include "core/FileObjects.h"

namespace {

constexpr wchar_t kTemporaryPrefix[] = L"osd";
constexpr int kMaxCopyNumber = 9999;
constexpr int kTemporaryNameAttempts = 100;
// Read for its size, written, and renamed or removed through the handle.
constexpr DWORD kTemporaryAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

CStringW FolderOf(const CStringW& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == CStringW::npos ? CStringW() : path.substr(0, slash + 1);
}

CStringW NameOf(const CStringW& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == CStringW::npos ? path : path.substr(slash + 1);
}

bool IsNameTaken(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// "osd" and 16 random hexadecimal digits: a name nobody can guess ahead.
CStringW RandomTemporaryName() {
    unsigned long long random = 0;
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof(random),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // Guessable, but still only ever a new file: a taken name is skipped.
        random = ::GetTickCount64() ^ (static_cast<unsigned long long>(::GetCurrentThreadId()) << 32);
    }
    wchar_t name[32] = {};
    std::swprintf(name, 32, L"%ls%016llx.tmp", kTemporaryPrefix, random);
    return name;
}

}  // namespace

TemporaryDownloadFile::TemporaryDownloadFile(const CStringW& destination, const std::string& expectedSha256)
    : destination_(destination), expectedSha256_(expectedSha256), digest_(std::make_unique<Sha256>()) {
    const CStringW folder = FolderOf(destination);
    if (destination.empty() || folder.empty() || NameOf(destination).empty()) {
        openError_ = ERROR_PATH_NOT_FOUND;
        return;
    }
    Create(folder);
    if (!file_) return;
    try {
        writer_ = std::make_unique<BlockWriter>(file_.Get(), digest_.get());
    } catch (const std::exception&) {
        // No thread or no memory for the writer: nothing is left behind.
        openError_ = ERROR_NOT_ENOUGH_MEMORY;
        DeleteOnClose(file_.Get());
        file_.Reset();
    }
}

void TemporaryDownloadFile::Create(const CStringW& folder) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const CStringW path = folder + RandomTemporaryName();
        file_ = CreateNewFile(path, kTemporaryAccess, FILE_SHARE_READ);
        if (file_) {
            temporaryPath_ = path;
            return;
        }
        openError_ = ::GetLastError();
        if (!IsNameTaken(openError_)) return;
    }
}

TemporaryDownloadFile::~TemporaryDownloadFile() {
    writer_.reset();
    if (file_ && !moved_) DeleteOnClose(file_.Get());
}

char* TemporaryDownloadFile::Space(DWORD size) {
    char* space = writer_->Space(size);
    if (!space) throw ErrorWithLastError(L"Failed to write file:");
    return space;
}

void TemporaryDownloadFile::Commit(DWORD size) {
    writer_->Commit(size);
}

void TemporaryDownloadFile::Drain() {
    if (writer_ && !writer_->Drain()) throw ErrorWithLastError(L"Failed to write file:");
}

void TemporaryDownloadFile::StartOver() {
    writer_.reset();
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.Get())) {
        throw ErrorWithLastError(L"Failed to write file:");
    }
    digest_ = std::make_unique<Sha256>();
    try {
        writer_ = std::make_unique<BlockWriter>(file_.Get(), digest_.get());
    } catch (const std::system_error&) {
        throw std::runtime_error("Out of memory.");
    }
}

void TemporaryDownloadFile::FinishWriting() {
    if (!writer_) return;
    if (!writer_->Drain()) throw ErrorWithLastError(L"Failed to write file:");
    writer_.reset();
}

std::optional<std::uint64_t> TemporaryDownloadFile::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_.Get(), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::string TemporaryDownloadFile::Verify() {
    const std::string actual = digest_->FinishHex();
    if (expectedSha256_.empty() || actual == expectedSha256_) return actual;
    throw std::runtime_error("Failed to verify the download: SHA-256 " +
                             (actual.empty() ? std::string("could not be computed") : actual) +
                             " differs from the expected " + expectedSha256_ + ".");
}

DownloadedFile TemporaryDownloadFile::MoveIntoPlace() {
    FinishWriting();
    const std::string sha256 = Verify();
    const CStringW folder = FolderOf(destination_);
    const CStringW name = NameOf(destination_);
    for (int number = 1; number <= kMaxCopyNumber; ++number) {
        const CStringW target = number == 1 ? destination_ : folder + NumberedFileName(name, number);
        // Never replacing: a file that is there stays untouched.
        if (RenameThroughHandle(file_.Get(), target)) {
            moved_ = true;
            file_.Reset();
            return {target, sha256};
        }
        const DWORD error = ::GetLastError();
        if (!IsNameTaken(error)) throw ErrorWithCode(L"Failed to move the download into place:", error);
    }
    throw std::runtime_error("No free file name for the download.");
}
