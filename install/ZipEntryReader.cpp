#include "install/ZipEntryReader.h"

namespace install {

ZipEntryReader::ZipEntryReader(unzFile archive) noexcept
    : archive_(archive), open_(::unzOpenCurrentFile(archive) == UNZ_OK) {}

ZipEntryReader::~ZipEntryReader() {
    Finish();
}

int ZipEntryReader::Read(void* buffer, unsigned size) noexcept {
    return open_ ? ::unzReadCurrentFile(archive_, buffer, size) : UNZ_PARAMERROR;
}

bool ZipEntryReader::Finish() noexcept {
    if (!open_) return false;
    open_ = false;
    return ::unzCloseCurrentFile(archive_) == UNZ_OK;
}

}  // namespace install
