#include "core/PathMacros.h"

#include "registry/RegistryView.h"

CStringW GetKnownFolderPath(const KNOWNFOLDERID& folder, bool defaultUser) {
    PWSTR path = nullptr;
    // The default user's folders are asked for with the token value -1.
    HANDLE token = defaultUser ? reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)) : nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(folder, 0, token, &path);
    CStringW text = SUCCEEDED(result) && path ? CStringW(path) : CStringW();
    ::CoTaskMemFree(path);
    return text;
}

void BuildPathMacros(PathMacroMap& macros, PathMacroMap& macros64) {
    macros.emplace(L"localappdata", GetKnownFolderPath(FOLDERID_LocalAppData, false));
    // Named "common" for historical reasons: it is the user's roaming folder.
    macros.emplace(L"commonappdata", GetKnownFolderPath(FOLDERID_RoamingAppData, false));
    macros.emplace(L"programdata", GetKnownFolderPath(FOLDERID_ProgramData, false));
    macros.emplace(L"commonpf32", GetKnownFolderPath(FOLDERID_ProgramFilesX86, false));

    if (!win32::IsWow64()) return;
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH);
    // A result of MAX_PATH or more is the size the value would need.
    if (length >= 1 && length < MAX_PATH) {
        macros.emplace(L"commonpf64", CStringW(buffer, length));
        macros64.emplace(L"commonpf64", CStringW(buffer, length));
    }
}

CStringW ExpandPathMacros(CStringW path, const PathMacroMap& macros) {
    for (const auto& [name, value] : macros) {
        const CStringW token = L"{" + name + L"}";
        for (size_t at = path.find(token); at != CStringW::npos; at = path.find(token, at + value.size())) {
            path.replace(at, token.size(), value);
        }
    }
    return path;
}
