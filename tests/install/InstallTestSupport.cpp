#include "tests/install/InstallTestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>

#include "framework/Handles.h"
#include "core/TextConversion.h"
#include "tests/common/TestSupport.h"

namespace ostrel::testing {

namespace {

constexpr wchar_t kRecordVariable[] = L"OSTREL_SAMPLE_RECORD";
constexpr DWORD kRunEndTimeoutMs = 30000;

void CollectFiles(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& files) {
    for (const FolderEntry& entry : ListFolder(folder + L"\\*")) {
        const std::wstring path = relative.empty() ? entry.name : relative + L"\\" + entry.name;
        if (entry.isFolder) {
            CollectFiles(folder + L"\\" + entry.name, path, files);
        } else {
            files.push_back(path);
        }
    }
}

void EndRun(DWORD pid) {
    framework::UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    if (process && ::WaitForSingleObject(process.Get(), kRunEndTimeoutMs) == WAIT_TIMEOUT) {
        ::TerminateProcess(process.Get(), 1);
        ::WaitForSingleObject(process.Get(), kRunEndTimeoutMs);
    }
}

}  // namespace

ScratchFolder::ScratchFolder(const wchar_t* prefix) : path_(MakeTemporaryFolder(prefix)) {
}

ScratchFolder::~ScratchFolder() {
    RemoveDirectoryTree(path_);
}

std::vector<std::wstring> FilesBelow(const std::wstring& folder) {
    std::vector<std::wstring> files;
    CollectFiles(folder, L"", files);
    std::sort(files.begin(), files.end());
    return files;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    return NormalisedFolder(a) == NormalisedFolder(b);
}

std::wstring SampleInstallerPath() {
    return ProgramFolder() + L"\\ostrel_sample_installer.exe";
}

SampleRecord::SampleRecord(const std::wstring& folder) : file_(folder + L"\\sample-runs.jsonl") {
    ::SetEnvironmentVariableW(kRecordVariable, file_.c_str());
}

SampleRecord::~SampleRecord() {
    for (const SampleRun& run : Runs()) EndRun(run.pid);
    ::SetEnvironmentVariableW(kRecordVariable, nullptr);
}

std::vector<SampleRun> SampleRecord::Runs() const {
    std::vector<SampleRun> runs;
    std::istringstream lines(ReadFileBytes(file_).value_or(std::string()));
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_discarded()) continue;
        SampleRun run;
        run.path = Utf8ToWide(record.value("path", ""));
        run.currentDirectory = Utf8ToWide(record.value("currentDirectory", ""));
        run.commandLine = Utf8ToWide(record.value("commandLine", ""));
        for (const auto& argument : record.value("arguments", nlohmann::json::array())) {
            run.arguments.push_back(Utf8ToWide(argument.get<std::string>()));
        }
        run.pid = record.value("pid", 0u);
        runs.push_back(std::move(run));
    }
    return runs;
}

std::vector<SampleRun> SampleRecord::WaitForRuns(size_t count, DWORD timeoutMs) const {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    std::vector<SampleRun> runs = Runs();
    while (runs.size() < count && ::GetTickCount64() < end) {
        ::Sleep(20);
        runs = Runs();
    }
    return runs;
}

}  // namespace ostrel::testing
