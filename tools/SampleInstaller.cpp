// Stands in for a product's installer in the tests and the demo. It records
// that it ran (where it was started from, in which current folder, what it
// was given, when, which process started it) as one JSON line appended to the
// file named by OSTREL_SAMPLE_RECORD, or, without it, to "<its own
// path>.runs.jsonl" beside itself; then it waits if told to and ends with the
// exit code it was told to use.
//
//   /WAIT=<ms>    wait that long after recording (else OSTREL_SAMPLE_WAIT_MS, else 0)
//   /EXIT=<code>  end with that code (else OSTREL_SAMPLE_EXIT_CODE, else 0)
//   /READ=<name>  after the wait, read the file of that name beside itself,
//                 as an installer reads the rest of its package, and record
//                 a second line: {"pid", "read": name, "content": its text,
//                 or null when it could not be read} (else OSTREL_SAMPLE_READ)
// Every other argument is only recorded, as installers' own switches are.
//
// The starter (parentPid, parentExe) tells what the wizard ran itself from
// what the desktop's shell ran for it.
//
// A GUI program: a console program started by the wizard would open a console window.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "framework/Handles.h"

namespace {

constexpr wchar_t kRecordVariable[] = L"OSTREL_SAMPLE_RECORD";
constexpr wchar_t kWaitVariable[] = L"OSTREL_SAMPLE_WAIT_MS";
constexpr wchar_t kExitCodeVariable[] = L"OSTREL_SAMPLE_EXIT_CODE";
constexpr wchar_t kReadVariable[] = L"OSTREL_SAMPLE_READ";
constexpr wchar_t kWaitSwitch[] = L"/WAIT=";
constexpr wchar_t kExitSwitch[] = L"/EXIT=";
constexpr wchar_t kReadSwitch[] = L"/READ=";
constexpr wchar_t kRecordSuffix[] = L".runs.jsonl";
constexpr int kRecordAttempts = 50;
constexpr DWORD kRecordRetryMs = 20;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
    return narrow;
}

std::wstring EnvironmentValue(const wchar_t* name) {
    const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return {};
    std::wstring value(needed, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), needed);
    value.resize(length < needed ? length : 0);
    return value;
}

std::wstring OwnPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring CurrentDirectory() {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return {};
    std::wstring folder(needed, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(needed, folder.data());
    folder.resize(length < needed ? length : 0);
    return folder;
}

// The arguments as the C runtime would split them, without the program name.
std::vector<std::wstring> Arguments() {
    int count = 0;
    wchar_t** split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!split) return {};
    const framework::UniqueLocalMemory owner(reinterpret_cast<HLOCAL>(split));
    return std::vector<std::wstring>(split + (count > 0 ? 1 : 0), split + count);
}

std::optional<DWORD> Number(const std::wstring& text) {
    if (text.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text.c_str(), &end, 10);
    if (!end || *end != L'\0') return std::nullopt;
    return static_cast<DWORD>(value);
}

// The text after "/NAME=" of the first argument with that prefix.
std::optional<std::wstring> SwitchValue(const std::vector<std::wstring>& arguments, const wchar_t* prefix) {
    const size_t prefixLength = std::wcslen(prefix);
    for (const std::wstring& argument : arguments) {
        if (argument.size() > prefixLength &&
            ::CompareStringOrdinal(argument.c_str(), static_cast<int>(prefixLength), prefix,
                                   static_cast<int>(prefixLength), TRUE) == CSTR_EQUAL) {
            return argument.substr(prefixLength);
        }
    }
    return std::nullopt;
}

// The value of "/NAME=<number>" among the arguments, else of the variable, else 0.
DWORD Setting(const std::vector<std::wstring>& arguments, const wchar_t* prefix, const wchar_t* variable) {
    if (const auto text = SwitchValue(arguments, prefix)) {
        if (const auto value = Number(*text)) return *value;
    }
    return Number(EnvironmentValue(variable)).value_or(0);
}

// The whole content of a file; nothing when it cannot be opened or read.
std::optional<std::string> FileContent(const std::wstring& path) {
    framework::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) content.append(buffer, read);
    return content;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

// The process that started this one: its id and executable name ("" when it
// has ended or cannot be listed).
struct ParentProcess {
    DWORD id = 0;
    std::wstring exeName;
};

ParentProcess Parent() {
    ParentProcess parent;
    framework::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !::Process32FirstW(snapshot.Get(), &entry)) return parent;
    const DWORD self = ::GetCurrentProcessId();
    do {
        if (entry.th32ProcessID == self) parent.id = entry.th32ParentProcessID;
    } while (parent.id == 0 && ::Process32NextW(snapshot.Get(), &entry));
    if (parent.id == 0 || !::Process32FirstW(snapshot.Get(), &entry)) return parent;
    do {
        if (entry.th32ProcessID == parent.id) parent.exeName = entry.szExeFile;
    } while (parent.exeName.empty() && ::Process32NextW(snapshot.Get(), &entry));
    return parent;
}

std::string CurrentUtcTime() {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

std::string RecordLine(const std::wstring& path, const std::vector<std::wstring>& arguments, DWORD waitMs,
                       DWORD exitCode) {
    nlohmann::json record;
    record["path"] = Utf8(path);
    record["currentDirectory"] = Utf8(CurrentDirectory());
    record["commandLine"] = Utf8(::GetCommandLineW());
    record["arguments"] = nlohmann::json::array();
    for (const std::wstring& argument : arguments) record["arguments"].push_back(Utf8(argument));
    record["time"] = CurrentUtcTime();
    record["pid"] = ::GetCurrentProcessId();
    const ParentProcess parent = Parent();
    record["parentPid"] = parent.id;
    record["parentExe"] = Utf8(parent.exeName);
    record["waitMs"] = waitMs;
    record["exitCode"] = exitCode;
    return record.dump() + "\n";
}

std::string ReadRecordLine(const std::wstring& name, const std::optional<std::string>& content) {
    nlohmann::json record;
    record["pid"] = ::GetCurrentProcessId();
    record["read"] = Utf8(name);
    record["content"] = content ? nlohmann::json(*content) : nlohmann::json(nullptr);
    record["time"] = CurrentUtcTime();
    return record.dump() + "\n";
}

// One write in append mode, so lines of installers running side by side never mix.
bool AppendRecord(const std::wstring& file, const std::string& line) {
    for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
        framework::UniqueKernelHandle handle(::CreateFileW(file.c_str(), FILE_APPEND_DATA,
                                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle) {
            DWORD written = 0;
            return ::WriteFile(handle.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                   written == line.size();
        }
        if (::GetLastError() != ERROR_SHARING_VIOLATION) return false;
        ::Sleep(kRecordRetryMs);
    }
    return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
    const std::wstring path = OwnPath();
    const std::vector<std::wstring> arguments = Arguments();
    const DWORD waitMs = Setting(arguments, kWaitSwitch, kWaitVariable);
    const DWORD exitCode = Setting(arguments, kExitSwitch, kExitCodeVariable);

    std::wstring recordFile = EnvironmentValue(kRecordVariable);
    if (recordFile.empty()) recordFile = path + kRecordSuffix;
    // An unrecorded run would look like no run at all to the tests.
    if (!AppendRecord(recordFile, RecordLine(path, arguments, waitMs, exitCode))) return ERROR_WRITE_FAULT;

    if (waitMs > 0) ::Sleep(waitMs);
    const std::wstring companion = SwitchValue(arguments, kReadSwitch).value_or(EnvironmentValue(kReadVariable));
    if (!companion.empty() &&
        !AppendRecord(recordFile, ReadRecordLine(companion, FileContent(FolderOf(path) + companion)))) {
        return ERROR_WRITE_FAULT;
    }
    return static_cast<int>(exitCode);
}
