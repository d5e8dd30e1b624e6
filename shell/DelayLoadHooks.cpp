// The delay-load helper's hooks, linked into the wizard programs only (they
// replace the toolchain's empty ones, which live in members of their own in
// libmingwex; test programs import the usual way and keep those). Every
// delay-loaded DLL is loaded from the system folder by its full path, also on
// a Windows where the DLL search could not be restricted to that folder
// (shell/DllSearch.cpp); a DLL or function that cannot be loaded ends the
// wizard with a message naming it and a non-zero exit code instead of an
// exception nobody handles. Called by the helper on whichever thread first
// uses an import.
#include <windows.h>
#include <delayimp.h>

#include <string>

#include "shell/SystemDll.h"

namespace {

std::string FunctionName(const DelayLoadProc& procedure) {
    if (procedure.fImportByName) return procedure.szProcName ? procedure.szProcName : "";
    return "#" + std::to_string(procedure.dwOrdinal);
}

[[noreturn]] void ExitFor(const DelayLoadInfo& info, const std::string& function, DWORD error) {
    ExitForMissingImport(MissingImportText(info.szDll ? info.szDll : "", function), error);
}

FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    if (HMODULE module = LoadSystemDll(info->szDll ? info->szDll : "")) return reinterpret_cast<FARPROC>(module);
    // Never left to the helper's own LoadLibrary: it would search by name.
    ExitFor(*info, {}, ::GetLastError());
}

FARPROC WINAPI ExitOnFailure(unsigned notification, PDelayLoadInfo info) {
    ExitFor(*info, notification == dliFailGetProc ? FunctionName(info->dlp) : std::string(), info->dwLastError);
}

}  // namespace

// The helper's own names (a leading underscore on i686 comes with C linkage).
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
PfnDliHook __pfnDliFailureHook2 = ExitOnFailure;
}
