// Owning WinINet handle: the Internet handle and URL handles close on scope
// exit. Kept apart from WinHTTP: the two headers cannot share a translation unit.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "framework/Handles.h"

struct WinInetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};

using UniqueWinInetHandle = framework::UniqueHandle<WinInetHandleTraits>;
