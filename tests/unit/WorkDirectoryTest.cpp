#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "framework/Handles.h"
#include "core/ConfigurationManager.h"
#include "core/FileObjects.h"
#include "core/WorkDirectory.h"
#include "tests/common/FileLinks.h"
#include "tests/common/TestSupport.h"

namespace {

using ostrel::testing::PendingRemovalIndex;
using ostrel::testing::PendingRemovals;

void WriteFile(const std::wstring& path, const char* text) {
    std::ofstream(std::filesystem::path(path)) << text;
}

TEST(WorkDirectory, TreeIsRemovedWithEverythingInIt) {
    const std::wstring root = CreateWorkingDirectory();
    ASSERT_TRUE(::PathIsDirectoryW(root.c_str()));
    ::CreateDirectoryW((root + L"\\offer").c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\offer\\deeper").c_str(), nullptr);
    WriteFile(root + L"\\setup.exe", "x");
    WriteFile(root + L"\\offer\\deeper\\a.txt", "y");
    WriteFile(root + L"\\offer\\readonly.txt", "z");
    ::SetFileAttributesW((root + L"\\offer\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteDirectoryTree(root);
    EXPECT_FALSE(::PathFileExistsW(root.c_str()));
}

TEST(WorkDirectory, EmptyDirectoryIsRemovedToo) {
    const std::wstring root = CreateWorkingDirectory();
    DeleteDirectoryTree(root);
    EXPECT_FALSE(::PathFileExistsW(root.c_str()));
    // A path that is not there is no error.
    DeleteDirectoryTree(root);
    DeleteDirectoryTree(L"");
}

TEST(WorkDirectory, FilesInUseAreLeftForRemovalAtRestart) {
    const std::wstring root = CreateWorkingDirectory();
    const std::wstring busy = root + L"\\busy.exe";
    WriteFile(busy, "running");
    WriteFile(root + L"\\free.txt", "free");
    // Open without delete sharing, as a running installer would hold its file.
    framework::UniqueKernelHandle holder(
        ::CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const size_t before = PendingRemovals().size();
    DeleteDirectoryTree(root);
    EXPECT_FALSE(::PathFileExistsW((root + L"\\free.txt").c_str()));
    EXPECT_TRUE(::PathFileExistsW(busy.c_str()));
    const std::vector<std::wstring> pending = PendingRemovals(before);
    EXPECT_GE(PendingRemovalIndex(pending, busy), 0);
    EXPECT_GT(PendingRemovalIndex(pending, root), PendingRemovalIndex(pending, busy));
    holder.Reset();
    ostrel::testing::RemoveDirectoryTree(root);
}

// A folder outside the working directory that a link inside it points at.
class PlantedLinks : public ::testing::Test {
protected:
    void SetUp() override {
        root = CreateWorkingDirectory();
        outside = ostrel::testing::MakeTemporaryFolder(L"out");
        ASSERT_TRUE(::PathIsDirectoryW(root.c_str()));
        ASSERT_TRUE(::PathIsDirectoryW(outside.c_str()));
        ASSERT_TRUE(::CreateDirectoryW((outside + L"\\full").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((outside + L"\\empty").c_str(), nullptr));
        WriteFile(outside + L"\\full\\precious.txt", "precious");
        WriteFile(outside + L"\\single.txt", "single");
        ASSERT_TRUE(::CreateDirectoryW((root + L"\\package").c_str(), nullptr));
        WriteFile(root + L"\\package\\setup.exe", "x");
    }
    void TearDown() override {
        for (const std::wstring& link : links) ostrel::testing::RemoveLink(link);
        ostrel::testing::RemoveDirectoryTree(root);
        ostrel::testing::RemoveDirectoryTree(outside);
    }
    void Plant(const std::wstring& link, const std::wstring& target, bool directory) {
        links.push_back(link);
        ASSERT_TRUE(ostrel::testing::MakeLink(link, target, directory)) << link;
    }
    // What lies outside is as it was.
    void ExpectOutsideIntact() const {
        EXPECT_EQ(ostrel::testing::ReadFileBytes(outside + L"\\full\\precious.txt").value_or(""), "precious");
        EXPECT_EQ(ostrel::testing::ReadFileBytes(outside + L"\\single.txt").value_or(""), "single");
        EXPECT_TRUE(::PathIsDirectoryW((outside + L"\\empty").c_str()));
    }

    std::wstring root;
    std::wstring outside;
    std::vector<std::wstring> links;
};

TEST_F(PlantedLinks, NoLinkIsFollowedAtAnyDepth) {
    // Each kind of link at the top and one level down, beside the package's own files.
    for (const std::wstring& folder : {root, root + L"\\package"}) {
        Plant(folder + L"\\to-folder", outside + L"\\full", true);
        Plant(folder + L"\\to-empty-folder", outside + L"\\empty", true);
        Plant(folder + L"\\to-file.txt", outside + L"\\single.txt", false);
    }
    DeleteDirectoryTree(root);
    ExpectOutsideIntact();
    // The package's own file goes all the same.
    EXPECT_FALSE(::PathFileExistsW((root + L"\\package\\setup.exe").c_str()));
}

TEST_F(PlantedLinks, ADirectoryThatIsItselfALinkIsNotEntered) {
    const std::wstring linkedRoot = root + L"\\linked-root";
    Plant(linkedRoot, outside + L"\\full", true);
    DeleteDirectoryTree(linkedRoot);
    ExpectOutsideIntact();
}

TEST_F(PlantedLinks, SparedFoldersAreJudgedTheSameWay) {
    Plant(root + L"\\package\\to-folder", outside + L"\\full", true);
    Plant(root + L"\\package\\to-file.txt", outside + L"\\single.txt", false);
    const size_t before = PendingRemovals().size();
    DeleteDirectoryTree(root, {root + L"\\package"});
    ExpectOutsideIntact();
    const std::vector<std::wstring> pending = PendingRemovals(before);
    EXPECT_GE(PendingRemovalIndex(pending, root + L"\\package\\setup.exe"), 0);
    EXPECT_EQ(PendingRemovalIndex(pending, outside + L"\\single.txt"), -1);
    EXPECT_EQ(PendingRemovalIndex(pending, outside + L"\\full\\precious.txt"), -1);
}

TEST(WorkDirectory, SparedEntriesWaitForTheRestartWithEverythingInThem) {
    const std::wstring root = CreateWorkingDirectory();
    const std::wstring package = root + L"\\package";
    ASSERT_TRUE(::CreateDirectoryW(package.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((package + L"\\data").c_str(), nullptr));
    WriteFile(package + L"\\setup.exe", "x");
    WriteFile(package + L"\\data\\product.cab", "cab");
    WriteFile(root + L"\\package.zip", "zip");
    WriteFile(root + L"\\other.exe", "other");
    const size_t before = PendingRemovals().size();

    DeleteDirectoryTree(root, {package, root + L"\\OTHER.EXE"});

    // The spared entries stay as they are; the rest goes now.
    EXPECT_EQ(ostrel::testing::ReadFileBytes(package + L"\\data\\product.cab").value_or(""), "cab");
    EXPECT_TRUE(::PathFileExistsW((package + L"\\setup.exe").c_str()));
    EXPECT_TRUE(::PathFileExistsW((root + L"\\other.exe").c_str()));
    EXPECT_FALSE(::PathFileExistsW((root + L"\\package.zip").c_str()));
    // Files before their folders, folders before the one they are in.
    const std::vector<std::wstring> pending = PendingRemovals(before);
    const int cab = PendingRemovalIndex(pending, package + L"\\data\\product.cab");
    const int data = PendingRemovalIndex(pending, package + L"\\data");
    const int setup = PendingRemovalIndex(pending, package + L"\\setup.exe");
    const int folder = PendingRemovalIndex(pending, package);
    const int other = PendingRemovalIndex(pending, root + L"\\other.exe");
    const int top = PendingRemovalIndex(pending, root);
    ASSERT_GE(cab, 0);
    ASSERT_GE(setup, 0);
    ASSERT_GE(other, 0);
    EXPECT_LT(cab, data);
    EXPECT_LT(data, folder);
    EXPECT_LT(setup, folder);
    EXPECT_LT(folder, top);
    EXPECT_LT(other, top);
    EXPECT_EQ(PendingRemovalIndex(pending, root + L"\\package.zip"), -1);
    ostrel::testing::RemoveDirectoryTree(root);
}

TEST(WorkDirectory, EntriesHoldingNameTheTopLevelEntryOfEachProgram) {
    const std::wstring root = L"C:\\temp\\ISV1A.tmp";
    const struct {
        const wchar_t* program;
        const wchar_t* entry;  // nullptr: not in the directory
    } cases[] = {
        {L"C:\\temp\\ISV1A.tmp\\offer.exe", L"C:\\temp\\ISV1A.tmp\\offer.exe"},
        {L"C:\\temp\\ISV1A.tmp\\offer\\setup.exe", L"C:\\temp\\ISV1A.tmp\\offer"},
        {L"C:\\temp\\ISV1A.tmp\\offer\\bin\\setup.exe", L"C:\\temp\\ISV1A.tmp\\offer"},
        {L"c:\\TEMP\\isv1a.TMP\\Offer\\setup.exe", L"C:\\temp\\ISV1A.tmp\\Offer"},
        {L"C:\\temp\\ISV1A.tmp2\\setup.exe", nullptr},
        {L"C:\\temp\\ISV1A.tmp", nullptr},
        {L"C:\\Users\\me\\Downloads\\product.exe", nullptr},
    };
    for (const auto& c : cases) {
        const std::vector<CStringW> entries = EntriesHolding(root, {c.program});
        if (!c.entry) {
            EXPECT_TRUE(entries.empty()) << c.program;
            continue;
        }
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(::CompareStringOrdinal(entries[0].c_str(), -1, c.entry, -1, TRUE), CSTR_EQUAL);
    }
    // Two installers of one package spare it once.
    EXPECT_EQ(EntriesHolding(root + L"\\", {root + L"\\offer\\a.exe", root + L"\\offer\\b.exe"}).size(), 1u);
}

TEST(WorkDirectory, ANewDirectoryIsNeverOneThatWasThere) {
    const std::wstring folder = ostrel::testing::MakeTemporaryFolder(L"new");
    const std::wstring outside = ostrel::testing::MakeTemporaryFolder(L"out");
    WriteFile(outside + L"\\precious.txt", "precious");
    ASSERT_TRUE(::CreateDirectoryW((folder + L"\\taken-folder").c_str(), nullptr));
    WriteFile(folder + L"\\taken-file", "file");
    ASSERT_TRUE(ostrel::testing::MakeLink(folder + L"\\taken-link", outside, true));

    EXPECT_TRUE(CreateNewDirectory(folder + L"\\fresh"));
    EXPECT_TRUE(::PathIsDirectoryW((folder + L"\\fresh").c_str()));
    for (const wchar_t* taken : {L"\\taken-folder", L"\\taken-file", L"\\taken-link"}) {
        EXPECT_FALSE(CreateNewDirectory(folder + taken)) << taken;
    }
    EXPECT_EQ(ostrel::testing::ReadFileBytes(outside + L"\\precious.txt").value_or(""), "precious");

    ostrel::testing::RemoveLink(folder + L"\\taken-link");
    ostrel::testing::RemoveDirectoryTree(folder);
    ostrel::testing::RemoveDirectoryTree(outside);
}

}  // namespace
