// Reads the data of the archive's current entry. The entry is closed again on
// every way out; Finish tells whether what was read matches the stored CRC.
#pragma once

#include <unzip.h>

namespace install {

class ZipEntryReader {
public:
    // Opens the current entry of archive (which must outlive the reader).
    explicit ZipEntryReader(unzFile archive) noexcept;
    ZipEntryReader(const ZipEntryReader&) = delete;
    ZipEntryReader& operator=(const ZipEntryReader&) = delete;
    ~ZipEntryReader();

    bool IsOpen() const noexcept { return open_; }
    // Bytes read into buffer: 0 at the end of the entry, negative on a
    // damaged entry.
    int Read(void* buffer, unsigned size) noexcept;
    // Closes the entry; false when its data did not match its CRC.
    bool Finish() noexcept;
    // Bytes of the archive read for this entry so far: at least what was
    // inflated, at most one read buffer more, never more than the archive
    // holds whatever its header claims.
    ZPOS64_T CompressedBytesRead() const noexcept;

private:
    unzFile archive_;
    bool open_;
    ZPOS64_T dataStart_ = 0;
};

}  // namespace install
