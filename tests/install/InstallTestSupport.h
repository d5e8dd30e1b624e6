// What the installer tests share: scratch folders, file bytes, and the sample
// installer (tools/SampleInstaller.cpp) with the record of its runs.
#pragma once

#include <windows.h>

#include "tests/common/TestSupport.h"

#include <optional>
#include <string>
#include <vector>

namespace ostrel::testing {

// A new empty folder in the temporary folder, removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Every file below folder, as paths relative to it, sorted.
std::vector<std::wstring> FilesBelow(const std::wstring& folder);
bool SameFile(const std::wstring& a, const std::wstring& b);

// The built sample installer beside the test program.
std::wstring SampleInstallerPath();

struct SampleRun {
    std::wstring path;
    std::wstring currentDirectory;
    std::wstring commandLine;
    std::vector<std::wstring> arguments;
    DWORD pid = 0;
};

// Points the sample installers this process starts at a record file of its
// own for the life of the object. At the end it waits for every recorded
// run to end (ending those that outstay), so their files can be removed.
class SampleRecord {
public:
    explicit SampleRecord(const std::wstring& folder);
    ~SampleRecord();
    SampleRecord(const SampleRecord&) = delete;
    SampleRecord& operator=(const SampleRecord&) = delete;

    std::vector<SampleRun> Runs() const;
    // Runs() once it holds at least count runs, or after timeoutMs.
    std::vector<SampleRun> WaitForRuns(size_t count, DWORD timeoutMs) const;

private:
    std::wstring file_;
};

}  // namespace ostrel::testing
