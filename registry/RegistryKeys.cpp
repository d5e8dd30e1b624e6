#include "registry/RegistryKeys.h"

#include <algorithm>

#include "registry/RegistryError.h"
#include "registry/RegistryPath.h"

namespace win32 {
namespace {

constexpr char openFailed[] = "Cannot open registry key: RegOpenKeyEx failed.";
constexpr char queryInfoFailed[] = "RegQueryInfoKey failed while preparing for subkey enumeration.";
constexpr char enumerationFailed[] = "Cannot enumerate subkeys: RegEnumKeyEx failed.";

// Key names are limited to 255 characters; a buffer of that size cannot be
// outgrown by a subkey created while the listing runs.
constexpr DWORD longestKeyName = 255;

}  // namespace

ScopedKey OpenKeyForRead(std::wstring_view path, REGSAM access) {
    const std::size_t separator = path.find(L'\\');
    const HKEY hive = HiveHandle(path.substr(0, separator));
    if (!hive) throw RegistryError(openFailed, ERROR_FILE_NOT_FOUND);
    const std::wstring_view subkey = separator == std::wstring_view::npos ? path : path.substr(separator + 1);
    return OpenKeyForRead(hive, subkey, access);
}

ScopedKey OpenKeyForRead(HKEY parent, std::wstring_view subkey, REGSAM access) {
    const std::wstring name(subkey);
    ScopedKey key;
    const LONG result = ::RegOpenKeyExW(parent, name.c_str(), 0, access, key.Put());
    if (result != ERROR_SUCCESS) throw RegistryError(openFailed, result);
    return key;
}

std::vector<std::wstring> EnumerateSubkeys(HKEY key) {
    DWORD count = 0;
    DWORD longest = 0;
    LONG result = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) throw RegistryError(queryInfoFailed, result);

    std::vector<std::wstring> names;
    names.reserve(count);
    std::vector<wchar_t> buffer(std::max(longest, longestKeyName) + 1);
    // Runs to the end the registry reports rather than to the count above:
    // a subkey removed meanwhile must not turn the listing into a failure.
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        result = ::RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) throw RegistryError(enumerationFailed, result);
        names.push_back(LowerCase(std::wstring_view(buffer.data(), length)));
    }
    return names;
}

}  // namespace win32
