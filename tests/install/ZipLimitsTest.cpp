// ZIP packages past the limits: too many entries, too many bytes for the cap
// or for the free space of the drive, entries that unpack to more than a
// thousand times their size. Each is refused with its text and leaves
// nothing behind, whether the archive says so honestly, claims it falsely or
// hides it behind a header that looks harmless.
#include <windows.h>

#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "install/ArchiveType.h"
#include "install/InstallerPreparation.h"
#include "install/MinizipExtraction.h"
#include "install/ZipLimits.h"
#include "core/TextConversion.h"
#include "tests/support/ImportHook.h"
#include "tests/install/InstallTestSupport.h"
#include "tests/install/ZipBuilder.h"

namespace {

using ostrel::testing::FilesBelow;
using ostrel::testing::ImportHook;
using ostrel::testing::SameFile;
using ostrel::testing::SampleRecord;
using ostrel::testing::ScratchFolder;
using ostrel::testing::ZipBuilder;

constexpr std::uint64_t kGiB = 1ull << 30;
constexpr std::uint64_t kMiB = 1ull << 20;
const std::string kTooManyEntries = "ZIP PACKAGE REFUSED: MORE THAN 10000 ENTRIES";
const std::string kTooHighRatio =
    "ZIP PACKAGE REFUSED: AN ENTRY UNPACKS TO MORE THAN 1000 TIMES ITS SIZE IN THE ARCHIVE";
const std::string kAboveCap = "ZIP PACKAGE REFUSED: MORE THAN 4294967296 BYTES UNPACKED";

std::string FreeSpaceRefusal(std::uint64_t bytes) {
    return "ZIP PACKAGE REFUSED: MORE THAN THE " + std::to_string(bytes) + " BYTES FREE ON THE TARGET DRIVE";
}

// Bytes deflate cannot shrink.
std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

// Raw deflate data (no zlib header) of bytes, as a ZIP entry stores it.
std::string Deflated(const std::string& bytes) {
    z_stream stream{};
    EXPECT_EQ(::deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(::deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(::deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    ::deflateEnd(&stream);
    return out;
}

uLong Crc(const std::string& bytes) {
    return ::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
}

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// An archive of stored entries written byte by byte: minizip's writer takes
// about a minute under Wine for ten thousand entries, this a moment.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string local;
    std::string directory;
    for (const auto& [name, data] : entries) {
        const std::uint32_t offset = static_cast<std::uint32_t>(local.size());
        const std::uint32_t crc = Crc(data);
        const auto size = static_cast<std::uint32_t>(data.size());
        const auto nameLength = static_cast<std::uint32_t>(name.size());
        PutLittleEndian(local, 0x04034B50, 4);
        for (const std::uint32_t field : {20u, 0u, 0u, 0u, 0u}) PutLittleEndian(local, field, 2);
        for (const std::uint32_t field : {crc, size, size}) PutLittleEndian(local, field, 4);
        PutLittleEndian(local, nameLength, 2);
        PutLittleEndian(local, 0, 2);
        local += name + data;
        PutLittleEndian(directory, 0x02014B50, 4);
        for (const std::uint32_t field : {20u, 20u, 0u, 0u, 0u, 0u}) PutLittleEndian(directory, field, 2);
        for (const std::uint32_t field : {crc, size, size}) PutLittleEndian(directory, field, 4);
        for (const std::uint32_t field : {nameLength, 0u, 0u, 0u, 0u}) PutLittleEndian(directory, field, 2);
        PutLittleEndian(directory, 0, 4);
        PutLittleEndian(directory, offset, 4);
        directory += name;
    }
    std::string end;
    PutLittleEndian(end, 0x06054B50, 4);
    const auto count = static_cast<std::uint32_t>(entries.size());
    for (const std::uint32_t field : {0u, 0u, count, count}) PutLittleEndian(end, field, 2);
    PutLittleEndian(end, static_cast<std::uint32_t>(directory.size()), 4);
    PutLittleEndian(end, static_cast<std::uint32_t>(local.size()), 4);
    PutLittleEndian(end, 0, 2);
    return local + directory + end;
}

// GetDiskFreeSpaceExW as the limits see it: a chosen figure for the caller,
// and the folder asked about.
struct FreeSpace {
    static inline std::uint64_t available = 0;
    static inline std::wstring asked;

    static BOOL WINAPI Call(LPCWSTR directory, PULARGE_INTEGER forCaller, PULARGE_INTEGER total, PULARGE_INTEGER free) {
        asked = directory ? directory : L"";
        if (forCaller) forCaller->QuadPart = available;
        if (total) total->QuadPart = std::numeric_limits<std::uint64_t>::max();
        if (free) free->QuadPart = std::numeric_limits<std::uint64_t>::max();
        return TRUE;
    }

    explicit FreeSpace(std::uint64_t bytes)
        : hook("kernel32.dll", "GetDiskFreeSpaceExW", reinterpret_cast<void*>(&Call)) {
        available = bytes;
        asked.clear();
    }

    ImportHook hook;
};

// ---------------------------------------------------------------------------
// The account itself, at its edges

TEST(UnpackAccount, EveryLimitAtItsEdge) {
    const ZipLimits cap;
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    const struct {
        const char* what;
        ZipLimits limits;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> entries;  // (in the archive, unpacked)
        std::string refusal;
    } cases[] = {
        {"nothing", cap, {{0, 0}}, ""},
        {"ratio 1000", cap, {{1000, 1000000}}, ""},
        {"ratio just above 1000", cap, {{1000, 1000001}}, kTooHighRatio},
        {"one byte from nothing", cap, {{0, 1}}, kTooHighRatio},
        {"stored", cap, {{5000, 5000}}, ""},
        {"largest claims", cap, {{most, most}}, kAboveCap},
        {"largest unpacked from one byte", cap, {{1, most}}, kTooHighRatio},
        {"exactly the cap", cap, {{2 * kGiB, 2 * kGiB}, {2 * kGiB, 2 * kGiB}}, ""},
        {"one byte past the cap", cap, {{2 * kGiB, 2 * kGiB}, {2 * kGiB, 2 * kGiB}, {1, 1}}, kAboveCap},
        {"past the cap in one entry", cap, {{5 * kGiB, 4 * kGiB + 1}}, kAboveCap},
        {"exactly the free space", {10 * kMiB, true}, {{10 * kMiB, 10 * kMiB}}, ""},
        {"past the free space",
         {10 * kMiB, true},
         {{6 * kMiB, 6 * kMiB}, {5 * kMiB, 5 * kMiB}},
         FreeSpaceRefusal(10 * kMiB)},
    };
    for (const auto& c : cases) {
        UnpackAccount account(c.limits);
        bool within = true;
        for (const auto& [compressed, unpacked] : c.entries) {
            within = account.BeginEntry() && account.Progress(compressed, unpacked);
            if (!within) break;
        }
        EXPECT_EQ(within, c.refusal.empty()) << c.what;
        EXPECT_EQ(account.Refusal(), c.refusal) << c.what;
        EXPECT_EQ(account.Refused(), !c.refusal.empty()) << c.what;
    }
}

TEST(UnpackAccount, TenThousandEntriesAndNotOneMore) {
    UnpackAccount account{ZipLimits{}};
    for (std::uint64_t i = 0; i < kMaxZipEntries; ++i) ASSERT_TRUE(account.BeginEntry()) << i;
    EXPECT_FALSE(account.Refused());
    EXPECT_FALSE(account.BeginEntry());
    EXPECT_EQ(account.Refusal(), kTooManyEntries);
    // A refusal is final.
    EXPECT_FALSE(account.Progress(1, 1));
    EXPECT_EQ(account.Refusal(), kTooManyEntries);
}

TEST(UnpackAccount, GrowingEntryIsJudgedOnItsLatestFigures) {
    UnpackAccount account{ZipLimits{}};
    ASSERT_TRUE(account.BeginEntry());
    // An entry read in steps: the figures are totals so far, not increments.
    EXPECT_TRUE(account.Progress(16384, 16384000));
    EXPECT_TRUE(account.Progress(32768, 32768000));
    EXPECT_FALSE(account.Progress(32768, 32768001));
    EXPECT_EQ(account.Refusal(), kTooHighRatio);
}

TEST(UnpackAccount, TheCancelFlagEndsTheCount) {
    std::atomic<bool> cancelled{false};
    UnpackAccount account(ZipLimits{}, &cancelled);
    ASSERT_TRUE(account.BeginEntry());
    EXPECT_TRUE(account.Progress(10, 10));
    cancelled = true;
    EXPECT_FALSE(account.Progress(20, 20));
    EXPECT_EQ(account.Refusal(), "ZIP PACKAGE REFUSED: CANCELLED");
}

TEST(UnpackAccount, TheFreeSpaceOfTheTargetDriveBoundsTheCap) {
    {
        const FreeSpace free(3 * kMiB);
        const ZipLimits limits = ZipLimitsFor(L"C:\\some\\folder");
        EXPECT_EQ(FreeSpace::asked, L"C:\\some\\folder");
        EXPECT_EQ(limits.maxBytes, 3 * kMiB);
        EXPECT_TRUE(limits.boundByFreeSpace);
    }
    {
        const FreeSpace free(100 * kGiB);
        const ZipLimits limits = ZipLimitsFor(L"C:\\some\\folder");
        EXPECT_EQ(limits.maxBytes, kMaxUnpackedBytes);
        EXPECT_FALSE(limits.boundByFreeSpace);
    }
}

// ---------------------------------------------------------------------------
// Packages

class ZipPackageLimits : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(::CreateDirectoryW(work_.c_str(), nullptr)); }

    std::wstring ArchivePath(const std::wstring& name) const { return work_ + L"\\" + name; }

    PreparedInstaller Prepare(const std::wstring& package, const std::atomic<bool>* cancelled = nullptr) {
        return PrepareInstaller(package, GetArchiveType(package), work_, cancelled);
    }

    // Refused with exactly that text, nothing to start, and nothing left but the archive.
    void ExpectRefused(const std::wstring& package, const std::string& refusal) {
        const PreparedInstaller prepared = Prepare(package);
        EXPECT_EQ(prepared.refusal, refusal);
        EXPECT_TRUE(prepared.program.empty()) << WideToUtf8(prepared.program);
        const std::wstring name = package.substr(package.rfind(L'\\') + 1);
        EXPECT_EQ(FilesBelow(work_), std::vector<std::wstring>{name});
        EXPECT_EQ(::GetFileAttributesW(package.substr(0, package.rfind(L'.')).c_str()), INVALID_FILE_ATTRIBUTES)
            << "the extraction folder is gone";
    }

    ScratchFolder scratch_{L"zlim"};
    SampleRecord record_{scratch_.Path()};
    std::wstring work_ = scratch_ / L"work";
};

TEST_F(ZipPackageLimits, SmallArchivesClaimingHugeSizesAreRefusedBeforeAnythingIsWritten) {
    // Room enough on the drive: only the archive's claims can stop it.
    const FreeSpace free(1024 * kGiB);
    const std::string installer = *ostrel::testing::ReadFileBytes(ostrel::testing::SampleInstallerPath());
    const struct {
        const wchar_t* name;
        std::string filler;
        std::uint64_t claimed;
        int copies;
        std::string refusal;
    } cases[] = {
        // A hundred bytes that would be five gibibytes.
        {L"tiny.zip", RandomBytes(100, 1), 5 * kGiB, 1, kTooHighRatio},
        // Plausible ratios, but five entries of a gibibyte each pass the cap together.
        {L"plausible.zip", RandomBytes(static_cast<size_t>(kGiB / 1000) + 1, 2), kGiB, 5, kAboveCap},
        // The most a size field can say.
        {L"largest.zip", RandomBytes(100, 3), std::numeric_limits<std::uint64_t>::max(), 1, kTooHighRatio},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.name));
        const std::wstring package = ArchivePath(c.name);
        {
            ZipBuilder zip(package);
            ASSERT_TRUE(zip.AddBytes("setup.exe", installer));
            for (int i = 0; i < c.copies; ++i) {
                ASSERT_TRUE(zip.AddRaw("data" + std::to_string(i) + ".bin", c.filler, c.claimed, 0));
            }
            ASSERT_TRUE(zip.Finish());
        }
        ExpectRefused(package, c.refusal);
        ASSERT_TRUE(::DeleteFileW(package.c_str()));
    }
    EXPECT_TRUE(record_.Runs().empty());
}

TEST_F(ZipPackageLimits, MoreThanTenThousandEntriesAreRefused) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (std::uint64_t i = 0; i < kMaxZipEntries; ++i) entries.emplace_back("f/" + std::to_string(i), "x");
    entries.emplace_back("setup.exe", *ostrel::testing::ReadFileBytes(ostrel::testing::SampleInstallerPath()));
    const std::wstring package = ArchivePath(L"many.zip");
    ASSERT_TRUE(ostrel::testing::WriteFileBytes(package, StoredZip(entries)));
    ExpectRefused(package, kTooManyEntries);
    EXPECT_TRUE(record_.Runs().empty());
}

TEST_F(ZipPackageLimits, AnEntryOfMoreThanAThousandTimesItsSizeIsRefused) {
    // Zeros deflate to about 1:1030, just past the limit.
    const std::string zeros(20 * kMiB, '\0');
    const std::wstring package = ArchivePath(L"zeros.zip");
    {
        ZipBuilder zip(package);
        ASSERT_TRUE(zip.AddFile("setup.exe", ostrel::testing::SampleInstallerPath()));
        ASSERT_TRUE(zip.AddBytes("zeros.bin", zeros));
        ASSERT_TRUE(zip.Finish());
    }
    ExpectRefused(package, kTooHighRatio);

    // The same number of bytes in a form that shrinks less goes through.
    std::string sparse = zeros;
    for (size_t i = 0; i < sparse.size(); i += 512) sparse[i] = static_cast<char>(i / 512 * 7 + 1);
    const std::wstring fine = ArchivePath(L"fine.zip");
    {
        ZipBuilder zip(fine);
        ASSERT_TRUE(zip.AddFile("setup.exe", ostrel::testing::SampleInstallerPath()));
        ASSERT_TRUE(zip.AddBytes("sparse.bin", sparse));
        ASSERT_TRUE(zip.Finish());
    }
    const PreparedInstaller prepared = Prepare(fine);
    EXPECT_EQ(prepared.refusal, "");
    EXPECT_TRUE(SameFile(prepared.program, work_ + L"\\fine\\setup.exe")) << WideToUtf8(prepared.program);
    EXPECT_EQ(ostrel::testing::ReadFileBytes(work_ + L"\\fine\\sparse.bin").value_or(""), sparse);
}

TEST_F(ZipPackageLimits, AHeaderThatUnderstatesTheRatioDoesNotGetPastIt) {
    // 32 MiB of zeros, deflated to about 32 KiB, followed by a mebibyte the
    // inflater never reaches: the directory claims a ratio of about 1:31.
    const std::string zeros(32 * kMiB, '\0');
    const std::string stored = Deflated(zeros) + RandomBytes(kMiB, 4);
    const std::wstring package = ArchivePath(L"liar.zip");
    {
        ZipBuilder zip(package);
        ASSERT_TRUE(zip.AddFile("setup.exe", ostrel::testing::SampleInstallerPath()));
        ASSERT_TRUE(zip.AddRaw("zeros.bin", stored, zeros.size(), Crc(zeros)));
        ASSERT_TRUE(zip.Finish());
    }
    UnpackAccount claims{ZipLimits{}};
    ASSERT_TRUE(ZipClaimsWithinLimits(package, claims)) << "the claims alone must look harmless: " << claims.Refusal();
    ExpectRefused(package, kTooHighRatio);
    EXPECT_TRUE(record_.Runs().empty());
}

TEST_F(ZipPackageLimits, NoMoreThanTheTargetDriveHasFree) {
    const std::string data = RandomBytes(2 * kMiB, 5);
    const std::wstring package = ArchivePath(L"big.zip");
    {
        ZipBuilder zip(package);
        ASSERT_TRUE(zip.AddFile("setup.exe", ostrel::testing::SampleInstallerPath()));
        ASSERT_TRUE(zip.AddBytes("data.bin", data));
        ASSERT_TRUE(zip.Finish());
    }
    {
        const FreeSpace free(kMiB);
        ExpectRefused(package, FreeSpaceRefusal(kMiB));
        // The drive asked about is the one the package unpacks to.
        EXPECT_EQ(FreeSpace::asked, work_ + L"\\big");
    }
    {
        const FreeSpace free(3 * kMiB);
        const PreparedInstaller prepared = Prepare(package);
        EXPECT_EQ(prepared.refusal, "");
        EXPECT_TRUE(SameFile(prepared.program, work_ + L"\\big\\setup.exe"));
    }
}

TEST_F(ZipPackageLimits, AClosedWizardStopsTheUnpacking) {
    const std::wstring package = ArchivePath(L"offer.zip");
    {
        ZipBuilder zip(package);
        ASSERT_TRUE(zip.AddFile("setup.exe", ostrel::testing::SampleInstallerPath()));
        ASSERT_TRUE(zip.Finish());
    }
    const std::atomic<bool> cancelled{true};
    const PreparedInstaller prepared = Prepare(package, &cancelled);
    EXPECT_EQ(prepared.refusal, "ZIP PACKAGE REFUSED: CANCELLED");
    EXPECT_TRUE(prepared.program.empty());
    EXPECT_EQ(FilesBelow(work_), std::vector<std::wstring>{L"offer.zip"});
}

}  // namespace
