#include "install/ZipLimits.h"

#include <windows.h>

#include <algorithm>

ZipLimits ZipLimitsFor(const CStringW& folder) {
    ZipLimits limits;
    ULARGE_INTEGER available{};
    // Unknown free space leaves the fixed cap; writing then fails on its own.
    if (::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) && available.QuadPart < limits.maxBytes) {
        limits.maxBytes = available.QuadPart;
        limits.boundByFreeSpace = true;
    }
    return limits;
}

UnpackAccount::UnpackAccount(const ZipLimits& limits, const std::atomic<bool>* cancelled)
    : limits_(limits), cancelled_(cancelled) {
}

bool UnpackAccount::BeginEntry() {
    if (Refused()) return false;
    earlierEntriesBytes_ += entryBytes_;
    entryBytes_ = 0;
    if (++entries_ > kMaxZipEntries) return Refuse("MORE THAN " + std::to_string(kMaxZipEntries) + " ENTRIES");
    return true;
}

bool UnpackAccount::Progress(std::uint64_t compressed, std::uint64_t unpacked) {
    if (Refused()) return false;
    if (cancelled_ && *cancelled_) return Refuse("CANCELLED");
    entryBytes_ = unpacked;
    // The least the entry may take in the archive, rounded up; no product of
    // a claimed size, which can be anything up to 2^64 - 1, is ever formed.
    const std::uint64_t leastCompressed =
        unpacked / kMaxCompressionRatio + (unpacked % kMaxCompressionRatio != 0 ? 1 : 0);
    if (compressed < leastCompressed) {
        return Refuse("AN ENTRY UNPACKS TO MORE THAN " + std::to_string(kMaxCompressionRatio) +
                      " TIMES ITS SIZE IN THE ARCHIVE");
    }
    // Earlier entries stayed within the cap, so the sum cannot overflow.
    if (earlierEntriesBytes_ + std::min(unpacked, kMaxUnpackedBytes + 1) <= limits_.maxBytes) return true;
    if (limits_.boundByFreeSpace) {
        return Refuse("MORE THAN THE " + std::to_string(limits_.maxBytes) + " BYTES FREE ON THE TARGET DRIVE");
    }
    return Refuse("MORE THAN " + std::to_string(limits_.maxBytes) + " BYTES UNPACKED");
}

bool UnpackAccount::Refuse(const std::string& reason) {
    refusal_ = kZipRefused + reason;
    return false;
}
