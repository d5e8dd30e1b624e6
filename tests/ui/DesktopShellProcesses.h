// The processes around the desktop's shell, for the tests of what the wizard
// has it start with the user's rights: who started whom, with which command
// line. Read from another process through a snapshot and the process's own
// parameters; any thread.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace ostrel::testing {

struct ChildProcess {
    DWORD id = 0;
    std::wstring exeName;
};

// The process that owns the desktop window (Wine's explorer.exe /desktop,
// Explorer on Windows): what the wizard hands to the desktop's shell is
// started by it. 0 when there is no desktop.
DWORD DesktopShellProcess();
// The processes that parent started, running or ended but still listed.
std::vector<ChildProcess> ChildProcesses(DWORD parent);
// The ids of parent's children of that executable name.
std::set<DWORD> ChildIds(DWORD parent, const wchar_t* exeName);
// The command line another process was started with; "" when it cannot be read.
std::wstring CommandLineOf(DWORD processId);
// The full path of another process's executable; "" when it cannot be read.
std::wstring ImageOf(DWORD processId);

}  // namespace ostrel::testing
