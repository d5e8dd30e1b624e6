#include "download/HeldFile.h"

#include <stdexcept>
#include <vector>

#include "api/Sha256.h"
#include "download/ErrorText.h"
#include "core/FileObjects.h"

namespace {

constexpr DWORD kReadBytes = 1024 * 1024;

}  // namespace

HeldFile HeldFile::Open(const CStringW& path) {
    // No FILE_SHARE_WRITE, no FILE_SHARE_DELETE: while this handle is open
    // nobody else writes, renames or deletes the file. Starting it as a
    // program only reads it, which the sharing allows.
    framework::UniqueKernelHandle handle = OpenWithoutFollowing(path, GENERIC_READ, FILE_SHARE_READ);
    if (!handle) throw ErrorWithLastError(L"Failed to hold the downloaded file:");
    if (KindOf(handle.Get(), ExpectedFinalPath(path)) != FileObjectKind::File) {
        throw std::runtime_error("Failed to hold the downloaded file: it is no longer a plain file at " + ToAnsi(path) +
                                 ".");
    }
    return HeldFile(std::move(handle), path);
}

std::string HeldFile::Sha256Hex() const {
    Sha256 digest;
    std::vector<char> buffer(kReadBytes);
    ULONGLONG offset = 0;
    for (;;) {
        // Read at explicit offsets: the handle's own position is nobody's business.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        if (!::ReadFile(handle_.Get(), buffer.data(), kReadBytes, &read, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            return {};
        }
        if (read == 0) break;
        digest.Add(buffer.data(), read);
        offset += read;
    }
    return digest.FinishHex();
}

void HeldFile::Verify(const std::string& expectedSha256) const {
    const std::string actual = Sha256Hex();
    if (!actual.empty() && actual == expectedSha256) return;
    throw std::runtime_error("The downloaded file changed before it was started: SHA-256 " +
                             (actual.empty() ? std::string("could not be computed") : actual) + " differs from " +
                             (expectedSha256.empty() ? std::string("none known") : expectedSha256) + ".");
}
