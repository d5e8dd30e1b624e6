#include "download/FileNames.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iterator>

namespace {

constexpr wchar_t kForbidden[] = L"<>:\"/\\|?*";
constexpr size_t kMaxExtensionLength = 16;
// The superscript digits count as digits to the system's device name test;
// COM0 and LPT0 are listed as reserved too.
constexpr const wchar_t* kReservedNames[] = {
    L"CON",  L"PRN",  L"AUX",       L"NUL",       L"CONIN$",    L"CONOUT$",   L"COM0",      L"COM1",
    L"COM2", L"COM3", L"COM4",      L"COM5",      L"COM6",      L"COM7",      L"COM8",      L"COM9",
    L"LPT0", L"LPT1", L"LPT2",      L"LPT3",      L"LPT4",      L"LPT5",      L"LPT6",      L"LPT7",
    L"LPT8", L"LPT9", L"COM\u00B9", L"COM\u00B2", L"COM\u00B3", L"LPT\u00B9", L"LPT\u00B2", L"LPT\u00B3"};

// Characters that reorder the text around them when it is shown: with them
// "setup\u202Etxt.exe" is displayed as "setupexe.txt".
bool IsBidiControl(wchar_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void RemoveBidiControls(CStringW& name) {
    name.erase(std::remove_if(name.begin(), name.end(), IsBidiControl), name.end());
}

bool IsForbidden(wchar_t c) {
    return c < 0x20 || c == 0x7F || std::wcschr(kForbidden, c) != nullptr;
}

CStringW Upper(CStringW text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// Windows treats "con", "con.txt" and "con .txt" alike: the stem decides.
bool IsReservedName(const CStringW& name) {
    CStringW stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    const CStringW upper = Upper(stem);
    return std::any_of(std::begin(kReservedNames), std::end(kReservedNames),
                       [&](const wchar_t* reserved) { return upper == reserved; });
}

size_t ExtensionStart(const CStringW& name) {
    const size_t dot = name.rfind(L'.');
    return dot == CStringW::npos || dot == 0 ? name.size() : dot;
}

CStringW Shortened(const CStringW& name) {
    if (name.size() <= kMaxFileNameLength) return name;
    const size_t dot = ExtensionStart(name);
    const CStringW extension = name.size() - dot <= kMaxExtensionLength ? name.substr(dot) : CStringW();
    return name.substr(0, kMaxFileNameLength - extension.size()) + extension;
}

void TrimTrailingDotsAndBlanks(CStringW& name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
}

}  // namespace

CStringW FileNameFromUrl(const CStringW& url) {
    CStringW rest = url.substr(0, url.find_first_of(L"?#"));
    // Past "scheme://host" only the path counts: "http://host" has no name.
    if (const size_t scheme = rest.find(L"://"); scheme != CStringW::npos) {
        const size_t pathStart = rest.find(L'/', scheme + 3);
        rest = pathStart == CStringW::npos ? CStringW() : rest.substr(pathStart);
    }
    const size_t slash = rest.rfind(L'/');
    return slash == CStringW::npos ? rest : rest.substr(slash + 1);
}

CStringW SafeFileName(const CStringW& name) {
    const size_t separator = name.find_last_of(L"/\\");
    CStringW safe = separator == CStringW::npos ? name : name.substr(separator + 1);
    RemoveBidiControls(safe);
    for (wchar_t& c : safe) {
        if (IsForbidden(c)) c = L'_';
    }
    while (!safe.empty() && safe.front() == L' ') safe.erase(0, 1);
    TrimTrailingDotsAndBlanks(safe);
    if (safe.empty()) return kFallbackFileName;
    if (IsReservedName(safe)) safe.insert(0, 1, L'_');
    safe = Shortened(safe);
    // Shortening may leave a dot or blank at the end again.
    TrimTrailingDotsAndBlanks(safe);
    return safe.empty() ? CStringW(kFallbackFileName) : safe;
}

CStringW NumberedFileName(const CStringW& name, int number) {
    const size_t dot = ExtensionStart(name);
    return name.substr(0, dot) + L" (" + std::to_wstring(number) + L")" + name.substr(dot);
}
