#include "download/ErrorText.h"

#include "framework/Handles.h"

CStringW GetSystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    // Texts with inserts have no arguments here and come back empty.
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    framework::UniqueLocalMemory owner(buffer);
    if (length == 0 || buffer == nullptr) return CStringW();
    return CStringW(buffer, length);
}

std::runtime_error ErrorWithCode(const CStringW& what, DWORD code) {
    const CStringW text = what + L" " + std::to_wstring(static_cast<int>(code)) + L" - " + GetSystemErrorText(code);
    return std::runtime_error(ToAnsi(text));
}

std::runtime_error ErrorWithLastError(const wchar_t* what) {
    // Read before anything else can change it.
    const DWORD code = ::GetLastError();
    return ErrorWithCode(what, code);
}

std::string IncompleteDownloadText(std::uint64_t length, std::uint64_t size) {
    return "Download was incomplete: content length: " + std::to_string(length) +
           ", downloaded: " + std::to_string(size);
}

std::string ToAnsi(const CStringW& text) {
    if (text.empty()) return std::string();
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length < 1) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                          nullptr);
    return result;
}

CStringW FromAnsi(const std::string& text) {
    if (text.empty()) return CStringW();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length < 1) return CStringW();
    CStringW result(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}
