#include "registry/RegistryValues.h"

#include <cwchar>

#include "registry/RegistryError.h"

namespace win32 {
namespace {

constexpr char readStringFailed[] = "Cannot read string from registry";
constexpr char readDwordFailed[] = "Cannot read DWORD from registry.";
constexpr char readQwordFailed[] = "Cannot read QWORD from registry.";

// A value rewritten between sizing and reading only needs another round;
// one that keeps growing is not worth waiting for.
constexpr int stringReadAttempts = 4;

const wchar_t* SubkeyOrSelf(const std::wstring& subkey) {
    return subkey.empty() ? nullptr : subkey.c_str();
}

template <typename Number>
Number ReadNumber(HKEY key, const std::wstring& name, DWORD restriction, const char* failure) {
    Number number = 0;
    DWORD size = sizeof(number);
    const LONG result = ::RegGetValueW(key, nullptr, name.c_str(), restriction, nullptr, &number, &size);
    if (result != ERROR_SUCCESS) throw RegistryError(failure, result);
    return number;
}

}  // namespace

bool RegistryValueExists(HKEY key, const std::wstring& name) {
    return ::RegGetValueW(key, nullptr, name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD QueryRegistryValueType(HKEY key, const std::wstring& name) {
    DWORD type = REG_NONE;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return REG_NONE;
    return type;
}

std::wstring ReadRegistryString(HKEY key, const std::wstring& subkey, const std::wstring& name) {
    DWORD size = 0;
    LONG result = ::RegGetValueW(key, SubkeyOrSelf(subkey), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size);
    for (int attempt = 0; attempt < stringReadAttempts && result == ERROR_SUCCESS; ++attempt) {
        std::wstring text((size + 1) / sizeof(wchar_t), L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        result = ::RegGetValueW(key, SubkeyOrSelf(subkey), name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size);
        if (result == ERROR_MORE_DATA) {
            result = ERROR_SUCCESS;  // `size` now holds what the grown value needs
            continue;
        }
        if (result != ERROR_SUCCESS) break;
        // The text ends at its first null: the terminator the registry
        // guarantees, or an earlier one stored with the data.
        text.resize(std::wcslen(text.c_str()));
        return text;
    }
    throw RegistryError(readStringFailed, result == ERROR_SUCCESS ? ERROR_MORE_DATA : result);
}

std::uint32_t ReadRegistryDword(HKEY key, const std::wstring& name) {
    return ReadNumber<std::uint32_t>(key, name, RRF_RT_REG_DWORD, readDwordFailed);
}

std::uint64_t ReadRegistryQword(HKEY key, const std::wstring& name) {
    return ReadNumber<std::uint64_t>(key, name, RRF_RT_REG_QWORD, readQwordFailed);
}

}  // namespace win32
