#include "download/TemporaryDownloadFile.h"

#include "download/ErrorText.h"
#include "download/FileNames.h"

namespace {

constexpr wchar_t kTemporaryPrefix[] = L"osd";
constexpr int kMaxCopyNumber = 9999;

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

}  // namespace

TemporaryDownloadFile::TemporaryDownloadFile(const CStringW& destination, const std::string& expectedSha256)
    : destination_(destination), expectedSha256_(expectedSha256) {
    if (!expectedSha256_.empty()) digest_ = std::make_unique<Sha256>();
    const CStringW folder = FolderOf(destination);
    if (destination.empty() || folder.empty() || NameOf(destination).empty()) {
        openError_ = ERROR_PATH_NOT_FOUND;
        return;
    }
    wchar_t path[MAX_PATH] = {};
    // The system picks a name nobody uses and creates the file, so two
    // downloads into one folder can never share a temporary file.
    if (::GetTempFileNameW(folder.c_str(), kTemporaryPrefix, 0, path) == 0) {
        openError_ = ::GetLastError();
        return;
    }
    temporaryPath_ = path;
    file_.Reset(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        openError_ = ::GetLastError();
        return;
    }
    writer_ = std::make_unique<BlockWriter>(file_.Get(), digest_.get());
}

TemporaryDownloadFile::~TemporaryDownloadFile() {
    writer_.reset();
    file_.Reset();
    if (!moved_ && !temporaryPath_.empty()) ::DeleteFileW(temporaryPath_.c_str());
}

char* TemporaryDownloadFile::Space(DWORD size) {
    char* space = writer_->Space(size);
    if (!space) throw ErrorWithLastError(L"Failed to write file:");
    return space;
}

void TemporaryDownloadFile::Commit(DWORD size) {
    writer_->Commit(size);
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

void TemporaryDownloadFile::Verify() {
    if (!digest_) return;
    const std::string actual = digest_->FinishHex();
    if (actual == expectedSha256_) return;
    throw std::runtime_error("Failed to verify the download: SHA-256 " +
                             (actual.empty() ? std::string("could not be computed") : actual) +
                             " differs from the expected " + expectedSha256_ + ".");
}

CStringW TemporaryDownloadFile::MoveIntoPlace() {
    FinishWriting();
    file_.Reset();
    Verify();
    const CStringW folder = FolderOf(destination_);
    const CStringW name = NameOf(destination_);
    for (int number = 1; number <= kMaxCopyNumber; ++number) {
        const CStringW target = number == 1 ? destination_ : folder + NumberedFileName(name, number);
        // Without MOVEFILE_REPLACE_EXISTING: a file that is there stays untouched.
        if (::MoveFileExW(temporaryPath_.c_str(), target.c_str(), 0)) {
            moved_ = true;
            return target;
        }
        const DWORD error = ::GetLastError();
        if (!IsNameTaken(error)) throw ErrorWithCode(L"Failed to move the download into place:", error);
    }
    throw std::runtime_error("No free file name for the download.");
}
