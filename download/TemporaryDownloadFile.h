// A download is written to a temporary file beside its destination and moved
// into place only when it is complete, so a failed or cancelled download never
// touches a file that was there before. The temporary file is removed unless
// it was moved into place. Bytes are written, and digested when the server
// named the file's SHA-256, on a thread of their own (BlockWriter); a file
// that does not match its digest is never moved into place.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/Sha256.h"
#include "download/BlockWriter.h"
#include "framework/Handles.h"
#include "framework/Strings.h"

class TemporaryDownloadFile {
public:
    // Creates the temporary file in the destination's folder. Failure is kept
    // (IsOpen, OpenError) and reported by the transfer when it needs the file.
    // expectedSha256: 64 lower-case hexadecimal digits, or empty when the
    // server named no digest.
    explicit TemporaryDownloadFile(const CStringW& destination, const std::string& expectedSha256 = {});
    TemporaryDownloadFile(const TemporaryDownloadFile&) = delete;
    TemporaryDownloadFile& operator=(const TemporaryDownloadFile&) = delete;
    ~TemporaryDownloadFile();

    bool IsOpen() const { return static_cast<bool>(file_); }
    DWORD OpenError() const { return openError_; }
    const CStringW& Path() const { return temporaryPath_; }

    // Room for `size` bytes that a read then fills; Commit says how many it
    // did. Once a write has failed, Space throws "Failed to write file: ..."
    // with the system's reason.
    char* Space(DWORD size);
    void Commit(DWORD size);
    // Waits until every byte is written and stops the writing thread; throws
    // as Space does when a write failed. Later calls do nothing.
    void FinishWriting();
    // Of the bytes written so far: call FinishWriting first.
    std::optional<std::uint64_t> Size() const;

    // Finishes writing, closes the file, checks its digest when one is
    // expected, and moves it to the destination, or, when that name is taken,
    // to the first free "name (n).ext". Returns the path it now has. Throws
    // std::runtime_error when the digest differs ("Failed to verify the
    // download: SHA-256 ...") or when it cannot be moved; the file is then
    // removed.
    CStringW MoveIntoPlace();

private:
    void Verify();

    CStringW destination_;
    std::string expectedSha256_;
    std::unique_ptr<Sha256> digest_;
    CStringW temporaryPath_;
    framework::UniqueKernelHandle file_;
    // Declared after the file and the digest it uses, so it stops before they go.
    std::unique_ptr<BlockWriter> writer_;
    DWORD openError_ = ERROR_SUCCESS;
    bool moved_ = false;
};
