#include "WizardProcess.h"

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <string_view>
#include <utility>

namespace ostrel::testing {

namespace {

constexpr DWORD kTerminateWaitMs = 10000;

std::wstring_view VariableName(std::wstring_view entry) {
    // Names of the per-drive variables ("=C:=C:\dir") start with '='.
    const size_t separator = entry.find(L'=', 1);
    return separator == std::wstring_view::npos ? entry : entry.substr(0, separator);
}

int CompareNames(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE);
}

struct EnvironmentFree {
    void operator()(wchar_t* block) const noexcept { FreeEnvironmentStringsW(block); }
};

std::vector<std::wstring> InheritedEnvironment() {
    std::vector<std::wstring> entries;
    const std::unique_ptr<wchar_t, EnvironmentFree> block(GetEnvironmentStringsW());
    if (!block) return entries;
    for (const wchar_t* entry = block.get(); *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        entries.emplace_back(entry);
    }
    return entries;
}

// CreateProcessW wants one string of NUL-terminated entries ending in an extra
// NUL, sorted by name without case as Windows keeps it.
std::wstring BuildEnvironmentBlock(const std::vector<std::wstring>& extraEnv) {
    std::vector<std::wstring> entries = InheritedEnvironment();
    for (const std::wstring& extra : extraEnv) {
        const std::wstring_view name = VariableName(extra);
        std::erase_if(entries,
                      [&](const std::wstring& entry) { return CompareNames(VariableName(entry), name) == CSTR_EQUAL; });
        entries.push_back(extra);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareNames(VariableName(a), VariableName(b)) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

}  // namespace

void HandleCloser::operator()(HANDLE handle) const noexcept {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

WizardProcess WizardProcess::Start(const std::wstring& exePath, const std::vector<std::wstring>& extraEnv,
                                   const std::wstring& arguments, const std::wstring& workingDirectory) {
    WizardProcess result;
    // Checked first: with the exe's missing folder as working directory,
    // CreateProcessW would report ERROR_DIRECTORY instead of the missing file.
    if (GetFileAttributesW(exePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        result.startError_ = GetLastError();
        return result;
    }
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::wstring environment = BuildEnvironmentBlock(extraEnv);
    std::wstring directory = workingDirectory;
    if (directory.empty()) directory = std::filesystem::path(exePath).parent_path().wstring();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        result.startError_ = GetLastError();
        return result;
    }
    const UniqueHandle thread(info.hThread);
    result.process_.reset(info.hProcess);
    result.id_ = info.dwProcessId;
    return result;
}

WizardProcess::WizardProcess(WizardProcess&& other) noexcept
    : process_(std::move(other.process_)),
      id_(std::exchange(other.id_, 0)),
      startError_(std::exchange(other.startError_, 0)) {
}

WizardProcess& WizardProcess::operator=(WizardProcess&& other) noexcept {
    if (this != &other) {
        Terminate();
        process_ = std::move(other.process_);
        id_ = std::exchange(other.id_, 0);
        startError_ = std::exchange(other.startError_, 0);
    }
    return *this;
}

WizardProcess::~WizardProcess() {
    Terminate();
}

bool WizardProcess::WaitForExit(DWORD timeoutMs) {
    if (!process_) return true;
    return WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD WizardProcess::ExitCode() const {
    DWORD code = 0;
    if (!process_ || !GetExitCodeProcess(process_.get(), &code)) return 0;
    return code;
}

void WizardProcess::Terminate() {
    if (!process_ || WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) return;
    // Termination is asynchronous; waiting makes sure the exe and its files are
    // released before a test cleans up.
    if (TerminateProcess(process_.get(), kTerminatedExitCode)) {
        WaitForSingleObject(process_.get(), kTerminateWaitMs);
    }
}

}  // namespace ostrel::testing
