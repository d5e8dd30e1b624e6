// Owning registry key handle for this layer.
#pragma once

#include <windows.h>

#include "framework/Handles.h"

namespace win32 {

struct ScopedKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle key) noexcept { return key != nullptr; }
    // RegOpenKeyExW hands a predefined key back unchanged when asked for a
    // hive itself; that handle belongs to the whole process, so it is left open.
    static void Close(Handle key) noexcept {
        if (!IsPredefined(key)) ::RegCloseKey(key);
    }
    static bool IsPredefined(Handle key) noexcept {
        const auto value = reinterpret_cast<ULONG_PTR>(key);
        return value >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
               value <= reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_USER_LOCAL_SETTINGS);
    }
};

// Closes its key when destroyed; Reset() closes it earlier.
using ScopedKey = framework::UniqueHandle<ScopedKeyTraits>;

}  // namespace win32
