// What a ZIP package may unpack to. An archive of a few kilobytes can claim,
// or really hold, far more than any installer needs: enough entries, bytes
// or repetition to fill the disk the wizard's working folder lies on. Each
// package is judged twice, on what its central directory claims before
// anything is written and on what is really unpacked while it is written,
// so a header that lies gets no further than an honest one.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "framework/Strings.h"

inline constexpr std::uint64_t kMaxUnpackedBytes = 4ull << 30;
inline constexpr std::uint64_t kMaxZipEntries = 10000;
// Unpacked bytes per byte of the archive, for every entry.
inline constexpr std::uint64_t kMaxCompressionRatio = 1000;

// Every refusal's failure text starts with this.
inline constexpr char kZipRefused[] = "ZIP PACKAGE REFUSED: ";

struct ZipLimits {
    std::uint64_t maxBytes = kMaxUnpackedBytes;
    // maxBytes is what the target drive has free, below the fixed cap.
    bool boundByFreeSpace = false;
};

// The limits for unpacking into folder: the fixed cap, or the space free for
// the user on the folder's drive where that is less.
ZipLimits ZipLimitsFor(const CStringW& folder);

// Counts what one archive unpacks, or claims to, entry by entry, and keeps the
// reason of the first limit passed. A cancel flag, when given, ends the count
// as a refusal too: nobody waits for the rest of a package after a close.
class UnpackAccount {
public:
    explicit UnpackAccount(const ZipLimits& limits, const std::atomic<bool>* cancelled = nullptr);

    // One entry more; false past the entry limit.
    bool BeginEntry();
    // The current entry has unpacked `unpacked` bytes out of `compressed`
    // bytes of the archive so far; false past the ratio or the size limit.
    bool Progress(std::uint64_t compressed, std::uint64_t unpacked);

    // The failure text of the first limit passed; empty while within them.
    const std::string& Refusal() const { return refusal_; }
    bool Refused() const { return !refusal_.empty(); }

private:
    bool Refuse(const std::string& reason);

    ZipLimits limits_;
    const std::atomic<bool>* cancelled_;
    std::uint64_t entries_ = 0;
    std::uint64_t earlierEntriesBytes_ = 0;
    std::uint64_t entryBytes_ = 0;
    std::string refusal_;
};
