#include "install/ProcessRunner.h"

#include <vector>

#include "framework/Handles.h"

CStringW InstallerCommandLine(const CStringW& path, const CStringW& arguments) {
    return L"\"" + path + L"\" " + arguments;
}

CStringW InstallerFolder(const CStringW& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == CStringW::npos) return CStringW();
    // A drive's root keeps its backslash: "C:" alone means that drive's current folder.
    if (separator == 2 && path[1] == L':') return path.substr(0, 3);
    return path.substr(0, separator);
}

std::pair<DWORD, DWORD> RunProcess(const CStringW& path, const CStringW& arguments, bool wait,
                                   const ProcessStarted& started) {
    // CreateProcessW may write into the command line, so it gets a copy it owns.
    const CStringW commandLine = InstallerCommandLine(path, arguments);
    std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    // In its own folder: installers look for their companion files and DLLs
    // in the current folder, and the wizard's is wherever it was started from.
    const CStringW folder = InstallerFolder(path);
    if (!::CreateProcessW(nullptr, writableCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &created)) {
        return {kExitCodeUnknown, ::GetLastError()};
    }
    const framework::UniqueKernelHandle process(created.hProcess);
    const framework::UniqueKernelHandle thread(created.hThread);
    if (started) started(process.Get());

    DWORD exitCode = kExitCodeUnknown;
    if (wait && ::WaitForSingleObject(process.Get(), INFINITE) == WAIT_OBJECT_0 &&
        !::GetExitCodeProcess(process.Get(), &exitCode)) {
        // The process ran and ended; only its code is lost.
        exitCode = kExitCodeUnknown;
    }
    return {exitCode, 0};
}
