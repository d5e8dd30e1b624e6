#include "core/TextConversion.h"

#include <windows.h>

#include <stdexcept>

CStringW Utf8ToWide(std::string_view text) {
    if (text.empty()) return CStringW();
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length < 1) {
        throw std::runtime_error("MultiByteToWideChar() failed: " + std::to_string(length));
    }
    CStringW result(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::string WideToUtf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length < 1) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                          nullptr);
    return result;
}
