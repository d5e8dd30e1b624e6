// Builds ZIP archives for the tests with minizip's writing half, entry names
// taken as given: the tests need archives no honest tool would write.
#pragma once

#include <zip.h>

#include <cstdint>
#include <string>

#include "framework/Handles.h"

namespace ostrel::testing {

struct ZipWriterTraits {
    using Handle = zipFile;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::zipClose(h, nullptr); }
};

class ZipBuilder {
public:
    // Creates (or replaces) the archive at path.
    explicit ZipBuilder(const std::wstring& path);

    bool IsOpen() const { return static_cast<bool>(zip_); }
    // A deflated entry holding bytes; utf8Name marks the name as UTF-8
    // (general purpose flag bit 11), else it is code page 437 text.
    bool AddBytes(const std::string& entryName, const std::string& bytes, bool utf8Name = false);
    // A deflated entry holding the bytes of the file at source.
    bool AddFile(const std::string& entryName, const std::wstring& source);
    // A deflated entry whose data is stored as given, taken for deflated
    // data already, with whatever unpacked size and CRC the directory is to
    // claim: archives that lie about what they hold.
    bool AddRaw(const std::string& entryName, const std::string& stored, std::uint64_t claimedSize, uLong crc);
    // Writes the central directory; false when the archive is not complete.
    bool Finish();

private:
    framework::UniqueHandle<ZipWriterTraits> zip_;
};

}  // namespace ostrel::testing
