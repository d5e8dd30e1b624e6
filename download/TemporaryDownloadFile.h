// A download is written to a temporary file beside its destination and moved
// into place only when it is complete, so a failed or cancelled download never
// touches a file that was there before. The temporary file is created new,
// never through a link at its name, and from then on reached only through its
// handle: written, judged, moved into place and, unless it was moved, removed
// through it, so another program of the user cannot redirect any of it by
// putting something at the name. Bytes are written and digested on a thread
// of their own (BlockWriter); a file that does not match the digest the
// server named is never moved into place.
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

// A download in place: where it went, and the SHA-256 of what was written
// (64 lower-case hexadecimal digits; empty when it could not be computed).
struct DownloadedFile {
    CStringW path;
    std::string sha256;
};

class TemporaryDownloadFile {
public:
    // Creates the temporary file in the destination's folder. Failure is kept
    // (IsOpen, OpenError) and reported by the transfer when it needs the file;
    // a writer that cannot start (no thread, no memory) is such a failure,
    // and the file is gone again. expectedSha256: 64 lower-case hexadecimal
    // digits, or empty when the server named no digest.
    explicit TemporaryDownloadFile(const CStringW& destination, const std::string& expectedSha256 = {});
    TemporaryDownloadFile(const TemporaryDownloadFile&) = delete;
    TemporaryDownloadFile& operator=(const TemporaryDownloadFile&) = delete;
    ~TemporaryDownloadFile();

    bool IsOpen() const { return static_cast<bool>(writer_); }
    DWORD OpenError() const { return openError_; }
    const CStringW& Path() const { return temporaryPath_; }

    // Room for `size` bytes that a read then fills; Commit says how many it
    // did. Once a write has failed, Space throws "Failed to write file: ..."
    // with the system's reason.
    char* Space(DWORD size);
    void Commit(DWORD size);
    // Waits until every byte so far is written, keeping the writer for more;
    // throws as Space does when a write failed.
    void Drain();
    // Empties the file and starts its digest again, for a transfer that has
    // to begin anew: what was still waiting to be written is dropped. Throws
    // "Failed to write file: ..." when the file cannot be emptied, and
    // "Out of memory." when no writer can be had; the file is closed then.
    void StartOver();
    // Waits until every byte is written and stops the writing thread; throws
    // as Space does when a write failed. Later calls do nothing.
    void FinishWriting();
    // Of the bytes written so far: call FinishWriting first.
    std::optional<std::uint64_t> Size() const;

    // Finishes writing, checks the digest when one is expected, and moves the
    // file to the destination, or, when that name is taken, to the first free
    // "name (n).ext". Returns where it now is and its digest. Throws
    // std::runtime_error when the digest differs ("Failed to verify the
    // download: SHA-256 ...") or when it cannot be moved; the file is then
    // removed.
    DownloadedFile MoveIntoPlace();

private:
    void Create(const CStringW& folder);
    std::string Verify();

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
