// Owning WinHTTP handle: sessions, connections and requests close on scope exit.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "framework/Handles.h"

struct WinHttpHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::WinHttpCloseHandle(h); }
};

using UniqueWinHttpHandle = framework::UniqueHandle<WinHttpHandleTraits>;
