// A downloaded file held open by the wizard from the end of its download
// until the program made of it has started: others may read it, but nobody
// can write, rename or delete it meanwhile, so the bytes that were checked
// are the bytes that run. A file can change between a download's end and the
// moment it is held, so its digest is computed again through the handle.
// Any thread may use a HeldFile; one at a time.
#pragma once

#include <windows.h>

#include <string>

#include "framework/Handles.h"
#include "framework/Strings.h"

class HeldFile {
public:
    // Opens path for reading, sharing reading only, judged on the handle: a
    // plain file at that very place, never a link. Throws std::runtime_error
    // with the failure text when it cannot be held.
    static HeldFile Open(const CStringW& path);

    HeldFile() = default;

    const CStringW& Path() const { return path_; }

    // The SHA-256 of the whole file, read through the handle, as 64
    // lower-case hexadecimal digits; empty when it cannot be read.
    std::string Sha256Hex() const;
    // Throws std::runtime_error ("The downloaded file changed before it was
    // started: ...") unless the file's digest is expectedSha256.
    void Verify(const std::string& expectedSha256) const;

private:
    HeldFile(framework::UniqueKernelHandle handle, const CStringW& path) : handle_(std::move(handle)), path_(path) {}

    framework::UniqueKernelHandle handle_;
    CStringW path_;
};
