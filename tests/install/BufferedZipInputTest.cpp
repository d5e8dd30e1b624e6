// The buffered reader under minizip at the positions a hostile archive can
// send it to: anywhere up to 2^64 - 1, where a position plus a size wraps
// round. Read there directly, and a whole archive whose zip64 end record puts
// its central directory at 0xFFFFFFFFFFFFFFFF, far behind the buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "install/ArchiveType.h"
#include "install/BufferedZipInput.h"
#include "install/InstallerPreparation.h"
#include "install/MinizipExtraction.h"
#include "core/TextConversion.h"
#include "tests/install/InstallTestSupport.h"

namespace {

using ostrel::testing::FilesBelow;
using ostrel::testing::ScratchFolder;

constexpr ZPOS64_T kLast = std::numeric_limits<ZPOS64_T>::max();

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The end of an archive whose zip64 end record, at recordOffset, says its
// one-entry directory lies at 0xFFFFFFFFFFFFFFFF and is recordOffset + 1
// bytes long: the sum minizip checks wraps round to the record, so the
// archive passes its check and the reader is sent to 2^64 - 1.
std::string Zip64EndPointingPastTheFile(std::uint64_t recordOffset) {
    std::string end;
    PutLittleEndian(end, 0x06064B50, 4);
    PutLittleEndian(end, 44, 8);  // size of the rest of the record
    PutLittleEndian(end, 45, 2);
    PutLittleEndian(end, 45, 2);
    PutLittleEndian(end, 0, 4);
    PutLittleEndian(end, 0, 4);
    PutLittleEndian(end, 1, 8);
    PutLittleEndian(end, 1, 8);
    PutLittleEndian(end, recordOffset + 1, 8);
    PutLittleEndian(end, kLast, 8);
    // The zip64 end locator.
    PutLittleEndian(end, 0x07064B50, 4);
    PutLittleEndian(end, 0, 4);
    PutLittleEndian(end, recordOffset, 8);
    PutLittleEndian(end, 1, 4);
    // The classic end record, deferring to the zip64 one.
    PutLittleEndian(end, 0x06054B50, 4);
    PutLittleEndian(end, 0, 2);
    PutLittleEndian(end, 0, 2);
    PutLittleEndian(end, 0xFFFF, 2);
    PutLittleEndian(end, 0xFFFF, 2);
    PutLittleEndian(end, 0xFFFFFFFF, 4);
    PutLittleEndian(end, 0xFFFFFFFF, 4);
    PutLittleEndian(end, 0, 2);
    return end;
}

// A ZIP signature, then a hole of gap bytes (sparse, so it costs no disk),
// then the hostile end: the reader's buffer then starts gap bytes into the
// file, and 2^64 - 1 read as an offset into it lies that far before it.
bool WriteHostileArchive(const std::wstring& path, std::uint64_t gap) {
    const framework::UniqueKernelHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const std::string start("PK\x03\x04", 4);
    const std::uint64_t recordOffset = start.size() + gap;
    const std::string end = Zip64EndPointingPastTheFile(recordOffset);
    DWORD written = 0;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(recordOffset);
    return ::WriteFile(file.Get(), start.data(), static_cast<DWORD>(start.size()), &written, nullptr) &&
           ::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) &&
           ::WriteFile(file.Get(), end.data(), static_cast<DWORD>(end.size()), &written, nullptr) &&
           written == end.size();
}

// The buffered functions opened on one file, closed at the end.
class BufferedFile {
public:
    explicit BufferedFile(const std::wstring& path) {
        install::FillBufferedWin32FileFunctions(&functions_);
        stream_ = functions_.zopen64_file(functions_.opaque, path.c_str(),
                                          ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    }
    ~BufferedFile() {
        if (stream_) functions_.zclose_file(functions_.opaque, stream_);
    }
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    bool IsOpen() const { return stream_ != nullptr; }
    long Seek(ZPOS64_T offset, int origin) {
        return functions_.zseek64_file(functions_.opaque, stream_, offset, origin);
    }
    ZPOS64_T Tell() { return functions_.ztell64_file(functions_.opaque, stream_); }
    // What one read of size bytes gives; the target is filled with a marker
    // first, so bytes copied from anywhere show.
    std::string Read(uLong size) {
        std::string bytes(size, '#');
        bytes.resize(functions_.zread_file(functions_.opaque, stream_, bytes.data(), size));
        return bytes;
    }

private:
    zlib_filefunc64_def functions_{};
    voidpf stream_ = nullptr;
};

class BufferedZipInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 200; ++i) content_.push_back(static_cast<char>('a' + i % 26));
        ASSERT_TRUE(ostrel::testing::WriteFileBytes(path_, content_));
    }

    ScratchFolder scratch_{L"bzip"};
    std::wstring path_ = scratch_ / L"data.bin";
    std::string content_;
};

TEST_F(BufferedZipInputTest, EveryPositionGivesTheFilesBytesThereAndNothingBeyondIt) {
    const struct {
        ZPOS64_T position;
        uLong size;
        std::string expected;
    } cases[] = {
        {0, 8, content_.substr(0, 8)},
        {100, 8, content_.substr(100, 8)},
        {196, 8, content_.substr(196)},
        {200, 8, ""},
        {4096, 8, ""},
        {kLast, 1, ""},
        {kLast, 8, ""},
        {kLast - 3, 8, ""},
        {kLast - 199, 8, ""},
        {1ull << 63, 8, ""},
        // Back to the start after the wrapping positions: the buffer was not spoilt.
        {2, 8, content_.substr(2, 8)},
    };
    BufferedFile file(path_);
    ASSERT_TRUE(file.IsOpen());
    // The buffer holds the whole file from here on.
    ASSERT_EQ(file.Read(4), content_.substr(0, 4));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        ASSERT_EQ(file.Seek(c.position, ZLIB_FILEFUNC_SEEK_SET), 0);
        EXPECT_EQ(file.Read(c.size), c.expected);
    }
}

TEST_F(BufferedZipInputTest, AMoveOnPast2To64IsRefusedAndTheReaderStaysPut) {
    BufferedFile file(path_);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_EQ(file.Read(10), content_.substr(0, 10));
    EXPECT_EQ(file.Seek(kLast - 4, ZLIB_FILEFUNC_SEEK_CUR), -1);
    EXPECT_EQ(file.Seek(kLast, ZLIB_FILEFUNC_SEEK_CUR), -1);
    EXPECT_EQ(file.Tell(), 10u);
    EXPECT_EQ(file.Read(4), content_.substr(10, 4));
    // Up to the very last position is still a move.
    EXPECT_EQ(file.Seek(kLast - 14, ZLIB_FILEFUNC_SEEK_CUR), 0);
    EXPECT_EQ(file.Tell(), kLast);
    EXPECT_EQ(file.Read(4), "");
}

TEST(HostileZip, ADirectoryAt2To64Minus1IsADamagedArchiveNotAReadBeforeTheBuffer) {
    ScratchFolder scratch{L"hzip"};
    const std::wstring work = scratch / L"work";
    ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
    const std::wstring package = work + L"\\offer.zip";
    // 256 MiB before the end: reading that far before the buffer leaves the heap.
    ASSERT_TRUE(WriteHostileArchive(package, 256ull << 20));
    ASSERT_EQ(GetArchiveType(package), ArchiveType::Zip);

    UnpackAccount claims{ZipLimits{}};
    EXPECT_FALSE(ZipClaimsWithinLimits(package, claims));
    EXPECT_EQ(claims.Refusal(), "");
    const PreparedInstaller prepared = PrepareInstaller(package, ArchiveType::Zip, work);
    // As any archive that cannot be read: nothing unpacked, the package left as it came.
    EXPECT_EQ(prepared.refusal, "");
    EXPECT_EQ(prepared.program, package) << WideToUtf8(prepared.program);
    EXPECT_EQ(FilesBelow(work), std::vector<std::wstring>{L"offer.zip"});
}

}  // namespace
