// Loading the wizard's system DLLs from the system folder by their full path,
// and the way out when one of them (or one of its functions) is missing. The
// delay-load hooks of the wizard programs (shell/DelayLoadHooks.cpp) are built
// on these; nothing here goes through a delay-loaded import, so they work
// while the DLL being loaded is the one that fails. Any thread may call them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// Older SDK headers lack the loader update's search flag.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The full path of a DLL named dllName in systemFolder. Nothing for a name
// that is empty or could reach outside that folder (a separator, a drive,
// "..") or that is not plain ASCII.
std::optional<std::wstring> SystemDllPath(std::wstring_view systemFolder, std::string_view dllName);

// Loads the DLL from the system folder by its full path, its own imports
// looked for there first too, on every Windows: LOAD_LIBRARY_SEARCH_SYSTEM32
// where the loader knows it, else the altered search that starts in the DLL's
// folder. nullptr with the last error set when it cannot be loaded.
HMODULE LoadSystemDll(std::string_view dllName);

// What the user is told: the DLL, and the function when that is what is
// missing (empty for the DLL itself).
std::wstring MissingImportText(std::string_view dllName, std::string_view function);

// Tells the user in a message box (user32 loaded by its full path, nothing
// shown when even that fails) and ends the process with exitCode (never 0)
// once it is answered. The calling thread waits meanwhile without handling
// its messages.
[[noreturn]] void ExitForMissingImport(const std::wstring& text, DWORD exitCode);
