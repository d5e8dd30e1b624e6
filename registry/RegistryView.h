// Which registry view a key path names. Offers write paths as a 64-bit
// program sees them: Software is the 64-bit view, Software\Wow6432Node the
// 32-bit view. The 32-bit release build and the 64-bit test build must reach
// the same keys, so the view flags are decided here and nowhere else.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// Whether Windows itself is 64-bit, whichever build of the program asks.
bool IsWow64();

// The access flag that reaches the 32-bit view. A 32-bit process is already
// there by default, and leaving the flag out keeps it valid on 32-bit Windows.
constexpr REGSAM ThirtyTwoBitViewFlag() noexcept {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    return 0;
#endif
}

// The access flag that reaches the 64-bit view (a no-op for a 64-bit process).
constexpr REGSAM SixtyFourBitViewFlag() noexcept {
    return KEY_WOW64_64KEY;
}

// For a path under a Software root, adds the flag of the view it names to
// `access` and, for a Wow6432Node path, rewrites it to the path inside that
// view. Returns true when the key cannot exist on this Windows (a
// Wow6432Node path on 32-bit Windows). Other paths are left alone: they
// open in the process's default view.
bool SelectRegistryView(std::wstring& path, REGSAM& access);
bool SelectRegistryView(std::wstring& path, REGSAM& access, bool sixtyFourBitWindows);

}  // namespace win32
