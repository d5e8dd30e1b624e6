// Tests and reads of the values of an open key.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace win32 {

// Whether the value exists, whatever its type; false as well when the
// registry will not say (for example, no right to query the key).
bool RegistryValueExists(HKEY key, const std::wstring& name);

// The value's type; REG_NONE when it cannot be queried.
DWORD QueryRegistryValueType(HKEY key, const std::wstring& name);

// A REG_SZ value (REG_EXPAND_SZ comes back expanded) of `subkey` below the
// key, or of the key itself when `subkey` is empty, up to its first null.
// Throws RegistryError "Cannot read string from registry".
std::wstring ReadRegistryString(HKEY key, const std::wstring& subkey, const std::wstring& name);

// Throws RegistryError "Cannot read DWORD from registry." unless the value is a REG_DWORD.
std::uint32_t ReadRegistryDword(HKEY key, const std::wstring& name);

// Throws RegistryError "Cannot read QWORD from registry." unless the value is a REG_QWORD.
std::uint64_t ReadRegistryQword(HKEY key, const std::wstring& name);

}  // namespace win32
