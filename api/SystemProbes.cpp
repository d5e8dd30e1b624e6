#include "api/SystemProbes.h"

#include <windows.h>

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);

}  // namespace

std::string GetOsVersionText() {
    // The documented version calls lie to programs without a matching
    // manifest entry; the kernel's own answer does not.
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion =
        ntdll
            ? reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
            : nullptr;
    if (!rtlGetVersion) return std::string();
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (rtlGetVersion(&version) != 0) return std::string();
    return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
           std::to_string(version.dwBuildNumber);
}

std::wstring DownloadTokenFromPath(const std::wstring& programPath) {
    const size_t underscore = programPath.rfind(L'_');
    if (underscore == std::wstring::npos) return std::wstring();
    std::wstring token = programPath.substr(underscore + 1);
    const size_t dot = token.rfind(L'.');
    if (dot != std::wstring::npos) token.resize(dot);
    if (token.size() == 7 && token.find(L'-') != std::wstring::npos) return token;
    return std::wstring();
}

std::wstring GetDownloadToken() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return DownloadTokenFromPath(std::wstring(path, length));
}
