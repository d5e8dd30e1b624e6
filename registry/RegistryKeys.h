// Opening registry keys for reading and listing their subkeys.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "registry/ScopedKey.h"

namespace win32 {

// Opens a full key path ("hkey_...\subkey"). A bare hive name is looked for
// as a subkey of the same name under that hive, so a value entry directly
// under a hive root finds nothing. Throws RegistryError when the key cannot be opened, including when
// the path names no hive (the key then does not exist: ERROR_FILE_NOT_FOUND).
ScopedKey OpenKeyForRead(std::wstring_view path, REGSAM access);

// Opens `subkey` below an open key; an empty subkey opens the key itself.
ScopedKey OpenKeyForRead(HKEY parent, std::wstring_view subkey, REGSAM access);

// The lower-cased names of the key's direct subkeys, in enumeration order.
std::vector<std::wstring> EnumerateSubkeys(HKEY key);

}  // namespace win32
