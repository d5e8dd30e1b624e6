// The files a download leaves where another program of the same user can
// reach them: the temporary file is never one that program prepared, and
// nothing stays behind when the download cannot even begin.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <string>

#include "download/TemporaryDownloadFile.h"
#include "tests/common/FileLinks.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/ImportHook.h"

namespace {

using namespace ostrel::testing;

bool IsTemporaryName(const std::wstring& path) {
    const size_t name = path.find_last_of(L'\\') + 1;
    return path.compare(name, 3, L"osd") == 0 && path.size() > 4 && path.compare(path.size() - 4, 4, L".tmp") == 0;
}

// The other program: at the first open of a temporary download file, it puts
// a link to its victim at that very name, whatever was there before.
struct LinkPlanter {
    static inline decltype(&::CreateFileW) original = nullptr;
    static inline std::wstring victim;
    static inline bool planted = false;

    static HANDLE WINAPI Call(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model) {
        if (!planted && path && IsTemporaryName(path)) {
            planted = true;
            ::DeleteFileW(path);
            MakeLink(path, victim, false);
        }
        return original(path, access, share, security, disposition, flags, model);
    }
};

TEST(TemporaryFile, ALinkPlantedAtTheTemporaryNameIsNeverFollowed) {
    const std::wstring folder = MakeTemporaryFolder(L"tln");
    LinkPlanter::victim = folder + L"\\victim.txt";
    LinkPlanter::planted = false;
    ASSERT_TRUE(WriteFileBytes(LinkPlanter::victim, "the victim's own bytes"));
    DownloadedFile downloaded;
    {
        const ImportProbe<LinkPlanter> hook("kernel32.dll", "CreateFileW");
        TemporaryDownloadFile file(folder + L"\\setup.exe");
        ASSERT_TRUE(file.IsOpen()) << file.OpenError();
        std::memcpy(file.Space(5), "bytes", 5);
        file.Commit(5);
        downloaded = file.MoveIntoPlace();
    }
    EXPECT_TRUE(LinkPlanter::planted);
    EXPECT_EQ(ReadFileBytes(LinkPlanter::victim).value_or(""), "the victim's own bytes");
    EXPECT_EQ(ReadFileBytes(downloaded.path).value_or(""), "bytes");
    EXPECT_EQ(Narrow(downloaded.path), Narrow(folder + L"\\setup.exe"));
    RemoveDirectoryTree(folder);
}

// No thread to be had: the system refuses every new one.
struct NoThreads {
    static inline decltype(&::_beginthreadex) original = nullptr;
    static uintptr_t __cdecl Call(void*, unsigned, _beginthreadex_proc_type, void*, unsigned, unsigned*) {
        errno = EAGAIN;
        return 0;
    }
};

TEST(TemporaryFile, AWriterThatCannotStartLeavesNothingBehind) {
    const std::wstring folder = MakeTemporaryFolder(L"tnw");
    try {
        const ImportProbe<NoThreads> hook("msvcrt.dll", "_beginthreadex");
        TemporaryDownloadFile file(folder + L"\\setup.exe");
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(file.OpenError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    } catch (const std::exception& error) {
        ADD_FAILURE() << "the transfer could not report it: " << error.what();
    }
    EXPECT_TRUE(FilesIn(folder).empty()) << Narrow(FilesIn(folder).empty() ? L"" : FilesIn(folder)[0]);
    RemoveDirectoryTree(folder);
}

}  // namespace
