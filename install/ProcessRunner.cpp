#include "install/ProcessRunner.h"

#include <vector>

#include "framework/Handles.h"

CStringW InstallerCommandLine(const CStringW& path, const CStringW& arguments) {
    return L"\"" + path + L"\" " + arguments;
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
    if (!::CreateProcessW(nullptr, writableCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &created)) {
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
