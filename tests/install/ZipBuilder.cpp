#include "tests/install/ZipBuilder.h"

// iowin32.h relies on the declarations of zip.h.
#include <iowin32.h>

#include "tests/install/InstallTestSupport.h"

namespace ostrel::testing {

namespace {

constexpr uLong kUtf8NameFlag = 1u << 11;
constexpr uLong kMadeByFat = 0;

}  // namespace

ZipBuilder::ZipBuilder(const std::wstring& path) {
    zlib_filefunc64_def fileFunctions{};
    fill_win32_filefunc64W(&fileFunctions);
    zip_.Reset(::zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &fileFunctions));
}

bool ZipBuilder::AddBytes(const std::string& entryName, const std::string& bytes, bool utf8Name) {
    if (!zip_) return false;
    zip_fileinfo info{};
    if (::zipOpenNewFileInZip4_64(zip_.Get(), entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                  kMadeByFat, utf8Name ? kUtf8NameFlag : 0, 0) != ZIP_OK) {
        return false;
    }
    const bool written =
        bytes.empty() || ::zipWriteInFileInZip(zip_.Get(), bytes.data(), static_cast<unsigned>(bytes.size())) == ZIP_OK;
    return ::zipCloseFileInZip(zip_.Get()) == ZIP_OK && written;
}

bool ZipBuilder::AddFile(const std::string& entryName, const std::wstring& source) {
    const std::optional<std::string> bytes = ReadFileBytes(source);
    return bytes && AddBytes(entryName, *bytes);
}

bool ZipBuilder::AddRaw(const std::string& entryName, const std::string& stored, std::uint64_t claimedSize, uLong crc) {
    if (!zip_) return false;
    zip_fileinfo info{};
    const int zip64 = claimedSize >= 0xFFFFFFFFull ? 1 : 0;
    if (::zipOpenNewFileInZip4_64(zip_.Get(), entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                  kMadeByFat, 0, zip64) != ZIP_OK) {
        return false;
    }
    const bool written = stored.empty() || ::zipWriteInFileInZip(zip_.Get(), stored.data(),
                                                                 static_cast<unsigned>(stored.size())) == ZIP_OK;
    return ::zipCloseFileInZipRaw64(zip_.Get(), claimedSize, crc) == ZIP_OK && written;
}

bool ZipBuilder::Finish() {
    if (!zip_) return false;
    return ::zipClose(zip_.Release(), nullptr) == ZIP_OK;
}

}  // namespace ostrel::testing
