#include "install/ZipEntryReader.h"

namespace install {

ZipEntryReader::ZipEntryReader(unzFile archive) noexcept
    : archive_(archive), open_(::unzOpenCurrentFile(archive) == UNZ_OK) {
    if (open_) dataStart_ = ::unzGetCurrentFileZStreamPos64(archive_);
}

ZipEntryReader::~ZipEntryReader() {
    Finish();
}

int ZipEntryReader::Read(void* buffer, unsigned size) noexcept {
    return open_ ? ::unzReadCurrentFile(archive_, buffer, size) : UNZ_PARAMERROR;
}

ZPOS64_T ZipEntryReader::CompressedBytesRead() const noexcept {
    return open_ ? ::unzGetCurrentFileZStreamPos64(archive_) - dataStart_ : 0;
}

bool ZipEntryReader::Finish() noexcept {
    if (!open_) return false;
    open_ = false;
    return ::unzCloseCurrentFile(archive_) == UNZ_OK;
}

}  // namespace install
