#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "install/ArchiveType.h"
#include "tests/install/InstallTestSupport.h"
#include "tests/install/ZipBuilder.h"

namespace {

using ostrel::testing::ScratchFolder;
using ostrel::testing::WriteFileBytes;

const std::string kZipHeader("PK\x03\x04", 4);
const std::string kSevenZipHeader("7z\xBC\xAF\x27\x1C", 6);

TEST(ArchiveType, IsDecidedByTheFirstBytesAlone) {
    const ScratchFolder scratch(L"arc");
    const std::vector<std::pair<std::string, ArchiveType>> cases{
        {kZipHeader + "rest of an entry", ArchiveType::Zip},
        {kZipHeader, ArchiveType::Zip},
        {kSevenZipHeader + std::string("\x00\x04", 2), ArchiveType::SevenZip},
        {kSevenZipHeader, ArchiveType::SevenZip},
        {std::string("PK\x05\x06", 4) + std::string(18, '\0'), ArchiveType::None},  // an empty archive's end record
        {"PK", ArchiveType::None},
        {std::string("PK\x03", 3), ArchiveType::None},
        {kSevenZipHeader.substr(0, 5), ArchiveType::None},
        {kSevenZipHeader.substr(0, 5) + "\x1D", ArchiveType::None},
        {"MZ\x90", ArchiveType::None},
        {"", ArchiveType::None},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        // Names that say the opposite of the content: only the bytes count.
        const std::wstring path = scratch / (L"package" + std::to_wstring(i) + L".7z.zip");
        ASSERT_TRUE(WriteFileBytes(path, cases[i].first));
        EXPECT_EQ(GetArchiveType(path), cases[i].second) << "case " << i;
    }
}

TEST(ArchiveType, RealArchivesAndProgramsAndMissingFiles) {
    const ScratchFolder scratch(L"arc");
    const std::wstring zip = scratch / L"built.exe";
    ostrel::testing::ZipBuilder builder(zip);
    ASSERT_TRUE(builder.AddBytes("setup.exe", "not really a program"));
    ASSERT_TRUE(builder.Finish());
    EXPECT_EQ(GetArchiveType(zip), ArchiveType::Zip);
    EXPECT_EQ(GetArchiveType(ostrel::testing::SampleInstallerPath()), ArchiveType::None);
    EXPECT_EQ(GetArchiveType(scratch / L"missing.zip"), ArchiveType::None);
    EXPECT_EQ(GetArchiveType(scratch.Path()), ArchiveType::None);
}

TEST(ArchiveType, ReadsAFileAnotherHandleStillHoldsForWriting) {
    const ScratchFolder scratch(L"arc");
    const std::wstring path = scratch / L"downloading.zip";
    ASSERT_TRUE(WriteFileBytes(path, kZipHeader + "data"));
    const framework::UniqueKernelHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(GetArchiveType(path), ArchiveType::Zip);
}

}  // namespace
