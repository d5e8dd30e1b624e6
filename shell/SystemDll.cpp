#include "shell/SystemDll.h"

#include <algorithm>

#include "framework/Handles.h"
#include "framework/MessageBox.h"

namespace {

using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

bool IsPlainDllName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find("..") != std::string_view::npos) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    });
}

std::wstring Widened(std::string_view ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

DWORD WINAPI ShowMissingImport(void* text) {
    HMODULE user32 = LoadSystemDll("user32.dll");
    if (!user32) return 0;
    const auto messageBox =
        reinterpret_cast<MessageBoxFunction>(reinterpret_cast<void*>(::GetProcAddress(user32, "MessageBoxW")));
    if (messageBox) {
        messageBox(nullptr, static_cast<const wchar_t*>(text), framework::kApplicationName,
                   MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
    }
    return 0;
}

}  // namespace

std::optional<std::wstring> SystemDllPath(std::wstring_view systemFolder, std::string_view dllName) {
    if (systemFolder.empty() || !IsPlainDllName(dllName)) return std::nullopt;
    std::wstring path(systemFolder);
    if (path.back() != L'\\') path += L'\\';
    return path + Widened(dllName);
}

HMODULE LoadSystemDll(std::string_view dllName) {
    const std::optional<std::wstring> path = SystemDllPath(SystemFolder(), dllName);
    if (!path) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (HMODULE module = ::LoadLibraryExW(path->c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    // Windows without the loader update refuses the flag as a parameter.
    if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    return ::LoadLibraryExW(path->c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::wstring MissingImportText(std::string_view dllName, std::string_view function) {
    const std::wstring dll = Widened(dllName);
    if (function.empty()) return L"Setup cannot continue: the system file " + dll + L" could not be loaded.";
    return L"Setup cannot continue: the function " + Widened(function) + L" of the system file " + dll +
           L" could not be found.";
}

void ExitForMissingImport(const std::wstring& text, DWORD exitCode) {
    // The box runs on a thread of its own while this one waits: the failing
    // thread may be the window's, whose paints and timers would otherwise
    // reach the failing import again from inside the box's message loop.
    framework::UniqueKernelHandle box(
        ::CreateThread(nullptr, 0, ShowMissingImport, const_cast<wchar_t*>(text.c_str()), 0, nullptr));
    if (box) ::WaitForSingleObject(box.Get(), INFINITE);
    ::ExitProcess(exitCode != 0 ? exitCode : ERROR_MOD_NOT_FOUND);
}
