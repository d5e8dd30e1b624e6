// Starts a downloaded installer. The download pages run it through
// std::async(std::launch::async, ...), so waiting for the main product's
// installer blocks a pool thread, never the window.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

#include "framework/Strings.h"

// What RunProcess reports while no exit code is known: the process could not
// be started, or it was started without waiting for it.
inline constexpr DWORD kExitCodeUnknown = 0xFFFFFFFF;

// The quoted path, one space, then the arguments exactly as given; the space
// stays when there are no arguments.
CStringW InstallerCommandLine(const CStringW& path, const CStringW& arguments);

// Told the handle of a process that was just created, before anyone waits
// for it; the handle is closed after the call, so a keeper duplicates it.
using ProcessStarted = std::function<void(HANDLE process)>;

// The folder holding path, where its installer is started; "" for a bare name.
CStringW InstallerFolder(const CStringW& path);

// Starts path with arguments in the wizard's environment, with the folder
// holding path as its current folder.
// Returns (exit code, start error): (kExitCodeUnknown, GetLastError()) when
// the process cannot be created; (exit code, 0) after waiting for it;
// (kExitCodeUnknown, 0) when it was started without waiting. Never throws
// for process failures.
std::pair<DWORD, DWORD> RunProcess(const CStringW& path, const CStringW& arguments, bool wait,
                                   const ProcessStarted& started = nullptr);
