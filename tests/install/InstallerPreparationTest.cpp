#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/ArchiveType.h"
#include "install/InstallerPreparation.h"
#include "install/ProcessRunner.h"
#include "tests/install/InstallTestSupport.h"
#include "tests/install/ZipBuilder.h"

namespace {

using ostrel::testing::FilesBelow;
using ostrel::testing::SameFile;
using ostrel::testing::SampleRecord;
using ostrel::testing::SampleRun;
using ostrel::testing::ScratchFolder;
using ostrel::testing::ZipBuilder;

constexpr std::pair<DWORD, DWORD> kEndedWithZero{0, 0};

// A working folder two levels below the scratch folder, so an entry that
// climbs out of its extraction folder, or out of the working folder, still
// lands where the test can see it.
class PrepareInstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(::CreateDirectoryW((scratch_ / L"user").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(work_.c_str(), nullptr));
    }

    // A ZIP in the working folder holding the sample installer under each of the names.
    std::wstring MakeZip(const std::wstring& name, const std::vector<std::string>& programs,
                         const std::vector<std::pair<std::string, std::string>>& others = {}) {
        const std::wstring path = work_ + L"\\" + name;
        ZipBuilder zip(path);
        for (const auto& program : programs) {
            EXPECT_TRUE(zip.AddFile(program, ostrel::testing::SampleInstallerPath())) << program;
        }
        for (const auto& [entry, bytes] : others) EXPECT_TRUE(zip.AddBytes(entry, bytes)) << entry;
        EXPECT_TRUE(zip.Finish());
        return path;
    }

    CStringW Prepare(const std::wstring& package) {
        return PrepareInstaller(package, GetArchiveType(package), work_).program;
    }

    ScratchFolder scratch_{L"zip"};
    SampleRecord record_{scratch_.Path()};
    std::wstring work_ = scratch_ / L"user\\work";
};

TEST_F(PrepareInstallerTest, AZipRunsTheProgramFromItsOwnNewFolder) {
    // Another package's installer already lies in the working folder, first in any listing.
    ASSERT_TRUE(
        ::CopyFileW(ostrel::testing::SampleInstallerPath().c_str(), (work_ + L"\\aaa_other.exe").c_str(), TRUE));
    const std::wstring package = MakeZip(L"offer.zip", {"offer_setup.exe"}, {{"readme.txt", "read me"}});

    const CStringW program = Prepare(package);
    EXPECT_TRUE(SameFile(program, work_ + L"\\offer\\offer_setup.exe")) << program;
    EXPECT_EQ(FilesBelow(work_), (std::vector<std::wstring>{L"aaa_other.exe", L"offer.zip", L"offer\\offer_setup.exe",
                                                            L"offer\\readme.txt"}));
    EXPECT_EQ(RunProcess(program, L"/S", true), kEndedWithZero);
    const std::vector<SampleRun> runs = record_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(SameFile(runs[0].path, program)) << runs[0].path;
}

TEST_F(PrepareInstallerTest, TwoZipsInOneWorkingFolderEachRunTheirOwnProgram) {
    const std::wstring first = MakeZip(L"first.zip", {"first_setup.exe"});
    const std::wstring second = MakeZip(L"second.zip", {"second_setup.exe"});
    // As the pages do it: everything is downloaded before the first installer starts.
    const CStringW firstProgram = Prepare(first);
    const CStringW secondProgram = Prepare(second);
    EXPECT_TRUE(SameFile(firstProgram, work_ + L"\\first\\first_setup.exe")) << firstProgram;
    EXPECT_TRUE(SameFile(secondProgram, work_ + L"\\second\\second_setup.exe")) << secondProgram;

    EXPECT_EQ(RunProcess(firstProgram, L"/first", true), kEndedWithZero);
    EXPECT_EQ(RunProcess(secondProgram, L"/second", true), kEndedWithZero);
    const std::vector<SampleRun> runs = record_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(SameFile(runs[0].path, firstProgram));
    EXPECT_EQ(runs[0].arguments, std::vector<std::wstring>{L"/first"});
    EXPECT_TRUE(SameFile(runs[1].path, secondProgram));
    EXPECT_EQ(runs[1].arguments, std::vector<std::wstring>{L"/second"});
}

TEST_F(PrepareInstallerTest, EveryPreparationGetsAFolderNoOneHadBefore) {
    const std::wstring package = MakeZip(L"offer.zip", {"setup.exe"});
    // A file already holds the archive's name.
    ASSERT_TRUE(ostrel::testing::WriteFileBytes(work_ + L"\\offer", "taken"));
    const CStringW once = Prepare(package);
    const CStringW twice = Prepare(package);
    EXPECT_TRUE(SameFile(once, work_ + L"\\offer (2)\\setup.exe")) << once;
    EXPECT_TRUE(SameFile(twice, work_ + L"\\offer (3)\\setup.exe")) << twice;
}

TEST_F(PrepareInstallerTest, EntriesThatWouldLandOutsideTheFolderAreNeverWritten) {
    const std::wstring package =
        MakeZip(L"offer.zip",
                {"../escaped_work.exe", "..\\escaped_backslash.exe", "bin/../../../escaped_user.exe", "setup.exe"},
                {{"/escaped_root.txt", "x"},
                 {"C:escaped_drive.txt", "x"},
                 {"setup.exe:escaped_stream", "x"},
                 {"docs/readme.txt", "read me"}});
    const CStringW program = Prepare(package);
    EXPECT_TRUE(SameFile(program, work_ + L"\\offer\\setup.exe")) << program;
    EXPECT_EQ(FilesBelow(scratch_.Path()),
              (std::vector<std::wstring>{L"user\\work\\offer.zip", L"user\\work\\offer\\docs\\readme.txt",
                                         L"user\\work\\offer\\setup.exe"}));
    EXPECT_EQ(RunProcess(program, L"", true), kEndedWithZero);
}

TEST_F(PrepareInstallerTest, AZipOfOnlyEscapingEntriesLeavesTheArchiveToBeRun) {
    const std::wstring package = MakeZip(L"offer.zip", {"../setup.exe", "../../setup.exe"});
    EXPECT_EQ(Prepare(package), package);
    EXPECT_EQ(FilesBelow(scratch_.Path()), std::vector<std::wstring>{L"user\\work\\offer.zip"});
    const auto result = RunProcess(Prepare(package), L"/S", true);
    EXPECT_EQ(result.first, kExitCodeUnknown);
    EXPECT_NE(result.second, 0u);
}

TEST_F(PrepareInstallerTest, ZipsWithoutAProgramOnTopOrDamagedLeaveTheArchive) {
    const std::wstring nested = MakeZip(L"nested.zip", {"bin/setup.exe"}, {{"readme.txt", "read me"}});
    EXPECT_EQ(Prepare(nested), nested);

    const std::wstring damaged = work_ + L"\\damaged.zip";
    ASSERT_TRUE(ostrel::testing::WriteFileBytes(damaged, std::string("PK\x03\x04", 4) + std::string(200, '\x7F')));
    ASSERT_EQ(GetArchiveType(damaged), ArchiveType::Zip);
    EXPECT_EQ(Prepare(damaged), damaged);
    EXPECT_EQ(FilesBelow(work_), (std::vector<std::wstring>{L"damaged.zip", L"nested.zip", L"nested\\bin\\setup.exe",
                                                            L"nested\\readme.txt"}));
    EXPECT_TRUE(record_.Runs().empty());
}

TEST_F(PrepareInstallerTest, AUtf8EntryNameIsWrittenAsNamed) {
    const std::wstring package = work_ + L"\\offer.zip";
    {
        ZipBuilder zip(package);
        const auto bytes = ostrel::testing::ReadFileBytes(ostrel::testing::SampleInstallerPath());
        ASSERT_TRUE(bytes);
        ASSERT_TRUE(zip.AddBytes("instalaci\xC3\xB3n.exe", *bytes, true));
        ASSERT_TRUE(zip.Finish());
    }
    const CStringW program = Prepare(package);
    EXPECT_TRUE(SameFile(program, work_ + L"\\offer\\instalaci\u00F3n.exe")) << program;
    EXPECT_EQ(RunProcess(program, L"", true), kEndedWithZero);
    ASSERT_EQ(record_.Runs().size(), 1u);
    EXPECT_TRUE(SameFile(record_.Runs()[0].path, program));
}

TEST_F(PrepareInstallerTest, OtherPackagesAreStartedAsTheyAre) {
    const std::wstring sevenZip = work_ + L"\\offer.7z";
    ASSERT_TRUE(ostrel::testing::WriteFileBytes(sevenZip, std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + "payload"));
    ASSERT_EQ(GetArchiveType(sevenZip), ArchiveType::SevenZip);
    EXPECT_EQ(Prepare(sevenZip), sevenZip);
    const std::wstring program = work_ + L"\\setup.exe";
    ASSERT_TRUE(::CopyFileW(ostrel::testing::SampleInstallerPath().c_str(), program.c_str(), TRUE));
    EXPECT_EQ(Prepare(program), program);
    // Even a ZIP is left alone when the caller says it is none.
    const std::wstring zip = MakeZip(L"offer.zip", {"setup.exe"});
    EXPECT_EQ(PrepareInstaller(zip, ArchiveType::None, work_).program, zip);
    EXPECT_EQ(FilesBelow(work_), (std::vector<std::wstring>{L"offer.7z", L"offer.zip", L"setup.exe"}));

    const auto started = RunProcess(Prepare(sevenZip), L"", true);
    EXPECT_EQ(started.first, kExitCodeUnknown);
    EXPECT_NE(started.second, 0u);
    EXPECT_TRUE(record_.Runs().empty());
}

}  // namespace
