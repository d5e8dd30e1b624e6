#include "shell/WebLink.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "shell/DesktopShell.h"

namespace {

bool StartsWithNoCase(const CStringW& text, const wchar_t* prefix) {
    const CStringW start = text.substr(0, std::wcslen(prefix));
    if (start.size() != std::wcslen(prefix)) return false;
    return std::equal(start.begin(), start.end(), prefix,
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
}

}  // namespace

bool IsWebUrl(const CStringW& url) {
    const bool web = StartsWithNoCase(url, L"https://") || StartsWithNoCase(url, L"http://");
    if (!web) return false;
    const size_t hostStart = url.find(L"//") + 2;
    if (hostStart >= url.size() || url[hostStart] == L'/' || url[hostStart] == L'\\') return false;
    return std::none_of(url.begin(), url.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
}

bool OpenWebUrl(const CStringW& url) {
    if (!IsWebUrl(url)) return false;
    // The browser runs with the user's rights, not the wizard's.
    return SUCCEEDED(StartThroughDesktopShell(url, CStringW(), CStringW(), SW_SHOWNORMAL));
}
