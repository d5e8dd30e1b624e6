#include "core/FileVersion.h"

#include <windows.h>

#include <cstring>

#include "framework/Handles.h"

std::string GetFileVersionString() {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    if (!resource) return std::string();
    HGLOBAL loaded = ::LoadResource(module, resource);
    if (!loaded) return std::string();
    const void* data = ::LockResource(loaded);
    const DWORD size = ::SizeofResource(module, resource);
    if (!data || size == 0) return std::string();

    // VerQueryValueW may write into the block, so it works on a copy.
    framework::UniqueLocalMemory copy(::LocalAlloc(LMEM_FIXED, size));
    if (!copy) return std::string();
    std::memcpy(copy.Get(), data, size);

    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (!::VerQueryValueW(copy.Get(), L"\\", reinterpret_cast<void**>(&info), &infoLength) || !info ||
        infoLength < sizeof(VS_FIXEDFILEINFO)) {
        return std::string();
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}
