#include "install/ZipEntryPath.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <vector>

namespace {

constexpr UINT kZipNameCodePage = 437;
constexpr wchar_t kForbiddenInNames[] = L"<>:\"|?*";
constexpr const wchar_t* kDeviceNames[] = {L"CON",  L"PRN",  L"AUX",  L"NUL",  L"CONIN$", L"CONOUT$", L"COM1", L"COM2",
                                           L"COM3", L"COM4", L"COM5", L"COM6", L"COM7",   L"COM8",    L"COM9", L"LPT1",
                                           L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6",   L"LPT7",    L"LPT8", L"LPT9"};

CStringW Widen(const std::string& text, UINT codePage) {
    if (text.empty()) return {};
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    CStringW wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

CStringW Upper(CStringW text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

std::vector<CStringW> SplitParts(const CStringW& path) {
    std::vector<CStringW> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find_first_of(L"\\/", start), path.size());
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool IsOnlyDotsAndBlanks(const CStringW& part) {
    return part.find_first_not_of(L". ") == CStringW::npos;
}

// Windows opens "con", "con.txt" and "con .txt" as the device: the stem decides.
bool IsDeviceName(const CStringW& part) {
    CStringW stem = part.substr(0, part.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    const CStringW upper = Upper(stem);
    return std::any_of(std::begin(kDeviceNames), std::end(kDeviceNames),
                       [&](const wchar_t* device) { return upper == device; });
}

bool HasForbiddenCharacter(const CStringW& part) {
    return std::any_of(part.begin(), part.end(),
                       [](wchar_t c) { return c < 0x20 || std::wcschr(kForbiddenInNames, c) != nullptr; });
}

bool IsAcceptablePart(const CStringW& part) {
    // Windows drops trailing dots and blanks, so "a." would be written as "a".
    return !IsOnlyDotsAndBlanks(part) && part.back() != L'.' && part.back() != L' ' && !HasForbiddenCharacter(part) &&
           !IsDeviceName(part);
}

CStringW FullPath(const CStringW& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    CStringW full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    return full;
}

}  // namespace

CStringW ZipEntryNameText(const std::string& rawName, bool isUtf8) {
    if (isUtf8) return Widen(rawName, CP_UTF8);
    const CStringW text = Widen(rawName, kZipNameCodePage);
    // A system without code page 437 still reads the common ASCII names.
    return text.empty() ? Widen(rawName, CP_OEMCP) : text;
}

std::optional<CStringW> SafeZipEntryPath(const CStringW& entryName) {
    if (entryName.empty() || entryName.front() == L'/' || entryName.front() == L'\\') return std::nullopt;
    const std::vector<CStringW> parts = SplitParts(entryName);
    if (parts.empty() || !std::all_of(parts.begin(), parts.end(), IsAcceptablePart)) return std::nullopt;
    CStringW relative;
    for (const CStringW& part : parts) {
        if (!relative.empty()) relative += L'\\';
        relative += part;
    }
    return relative;
}

bool IsInsideFolder(const CStringW& folder, const CStringW& path) {
    CStringW base = FullPath(folder);
    const CStringW full = FullPath(path);
    if (base.empty() || full.empty()) return false;
    if (base.back() != L'\\') base += L'\\';
    return full.size() > base.size() &&
           ::CompareStringOrdinal(full.c_str(), static_cast<int>(base.size()), base.c_str(),
                                  static_cast<int>(base.size()), TRUE) == CSTR_EQUAL;
}
