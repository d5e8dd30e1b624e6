// The thread that writes and digests a download: bytes land whole and in
// order whatever the sizes of the pieces, a read shorter than its room counts
// only what arrived, and a failed write stops the transfer with the system's
// reason instead of passing as written.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "api/Sha256.h"
#include "download/BlockWriter.h"
#include "framework/Handles.h"
#include "tests/common/TestSupport.h"

namespace ostrel::testing {
namespace {

class BlockWriterTest : public ::testing::Test {
protected:
    void TearDown() override { RemoveDirectoryTree(folder); }

    framework::UniqueKernelHandle Open(DWORD access) const {
        return framework::UniqueKernelHandle(
            ::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    std::string Contents() const {
        framework::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        std::string bytes(8 * BlockWriter::kBlockBytes, '\0');
        DWORD read = 0;
        if (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
        bytes.resize(read);
        return bytes;
    }

    const std::wstring folder = MakeTemporaryFolder(L"obw");
    const std::wstring path = folder + L"\\download.bin";
};

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
    return bytes;
}

TEST_F(BlockWriterTest, PiecesOfEverySizeLandWholeAndInOrderAndAreDigested) {
    // Small pieces that straddle block edges, one larger than a block, and
    // reads that bring less than the room asked for.
    const std::string source = Pattern(5 * BlockWriter::kBlockBytes + 12345);
    framework::UniqueKernelHandle file = Open(GENERIC_WRITE);
    ASSERT_TRUE(file);
    Sha256 digest;
    {
        BlockWriter writer(file.Get(), &digest);
        std::size_t offset = 0;
        for (std::size_t round = 0; offset < source.size(); ++round) {
            const std::size_t asked = round == 40 ? BlockWriter::kBlockBytes * 2 + 3 : 8192 + round % 977;
            const std::size_t arrived = std::min({asked - round % 3, source.size() - offset});
            char* room = writer.Space(asked);
            ASSERT_NE(room, nullptr);
            std::memcpy(room, source.data() + offset, arrived);
            writer.Commit(arrived);
            offset += arrived;
        }
        ASSERT_TRUE(writer.Drain());
    }
    file.Reset();
    EXPECT_TRUE(Contents() == source) << "the file holds other bytes than were committed";
    EXPECT_EQ(digest.FinishHex(), Sha256Hex(source));
}

TEST_F(BlockWriterTest, AFailedWriteIsReportedWithTheSystemsReason) {
    // A handle that may not write: every write fails as a full or lost disk would.
    framework::UniqueKernelHandle file = Open(GENERIC_READ);
    ASSERT_TRUE(file);
    BlockWriter writer(file.Get(), nullptr);
    bool refused = false;
    for (int piece = 0; piece < 8 && !refused; ++piece) {
        char* room = writer.Space(BlockWriter::kBlockBytes);
        refused = room == nullptr;
        if (room) writer.Commit(BlockWriter::kBlockBytes);
    }
    // The writer refuses further room soon after the first failure, at the
    // latest when it drains.
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(writer.Drain());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(refused) << "eight megabytes were taken after the first write had failed";
}

}  // namespace
}  // namespace ostrel::testing
