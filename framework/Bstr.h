// Owning wrapper for BSTR text handed to automation interfaces.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "framework/Handles.h"

namespace framework {

struct BstrTraits {
    using Handle = BSTR;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::SysFreeString(h); }
};

using UniqueBstr = UniqueHandle<BstrTraits>;

// A copy of text as a BSTR; empty (invalid) when the system has no memory for it.
inline UniqueBstr AllocateBstr(const std::wstring& text) {
    return UniqueBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

}  // namespace framework
