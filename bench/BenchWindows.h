// What the benchmarks that time the wizard's windows share: starting a
// program, telling when a named window of it is on screen and painted, and
// closing it as a user would.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/Handles.h"

namespace ostrel::bench {

using UniqueHandle = framework::UniqueHandle<framework::KernelHandleTraits>;

struct StartedProcess {
    UniqueHandle process;
    DWORD id = 0;
};

std::optional<StartedProcess> Start(const std::wstring& exe);
bool HasEnded(HANDLE process, DWORD timeoutMs = 0);

// A window of the process (top-level or child) with that text, visible
// together with every window it sits in; nullptr when there is none.
HWND FindShownWindow(DWORD processId, const std::wstring& name);
// "Painted": no window of root has a pending paint, and the program's UI
// thread has come back to its message loop since.
bool IsPainted(HWND root);
// The top-level window of the process with the named window painted in it;
// nullptr when the process ended or the time ran out.
HWND WaitUntilPainted(const StartedProcess& started, const std::wstring& name);

// Closes the program as a user would: the close box, then OK to any
// question; terminates it when it is still there after that.
void Close(const StartedProcess& started, HWND root);

double MillisecondsSince(const LARGE_INTEGER& start);
double Median(std::vector<double> values);
std::wstring FileName(const std::wstring& path);

}  // namespace ostrel::bench
