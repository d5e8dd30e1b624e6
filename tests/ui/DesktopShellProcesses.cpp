#include "tests/ui/DesktopShellProcesses.h"

#include <tlhelp32.h>
#include <winternl.h>

#include "framework/Handles.h"

namespace ostrel::testing {

namespace {

using QueryInformationProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

template <typename T>
bool ReadFrom(HANDLE process, const void* address, T& value) {
    SIZE_T read = 0;
    return ::ReadProcessMemory(process, address, &value, sizeof(value), &read) && read == sizeof(value);
}

}  // namespace

DWORD DesktopShellProcess() {
    DWORD owner = 0;
    HWND shell = ::GetShellWindow();
    ::GetWindowThreadProcessId(shell ? shell : ::GetDesktopWindow(), &owner);
    return owner;
}

std::vector<ChildProcess> ChildProcesses(DWORD parent) {
    std::vector<ChildProcess> children;
    framework::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !::Process32FirstW(snapshot.Get(), &entry)) return children;
    do {
        if (entry.th32ParentProcessID == parent) children.push_back({entry.th32ProcessID, entry.szExeFile});
    } while (::Process32NextW(snapshot.Get(), &entry));
    return children;
}

std::set<DWORD> ChildIds(DWORD parent, const wchar_t* exeName) {
    std::set<DWORD> ids;
    for (const ChildProcess& child : ChildProcesses(parent)) {
        if (::_wcsicmp(child.exeName.c_str(), exeName) == 0) ids.insert(child.id);
    }
    return ids;
}

std::wstring CommandLineOf(DWORD processId) {
    const auto query = reinterpret_cast<QueryInformationProcess>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    framework::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || !process || query(process.Get(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) {
        return {};
    }
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (!ReadFrom(process.Get(), basic.PebBaseAddress, peb) ||
        !ReadFrom(process.Get(), peb.ProcessParameters, parameters)) {
        return {};
    }
    std::wstring commandLine(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    SIZE_T read = 0;
    if (!::ReadProcessMemory(process.Get(), parameters.CommandLine.Buffer, commandLine.data(),
                             parameters.CommandLine.Length, &read) ||
        read != parameters.CommandLine.Length) {
        return {};
    }
    return commandLine;
}

std::wstring ImageOf(DWORD processId) {
    framework::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (!process || !::QueryFullProcessImageNameW(process.Get(), 0, image, &length)) return {};
    return std::wstring(image, length);
}

}  // namespace ostrel::testing
