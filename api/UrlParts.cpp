#include "api/UrlParts.h"

bool CrackUrl(const CStringW& url, URL_COMPONENTS& parts) {
    parts = URL_COMPONENTS{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    return ::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) != FALSE;
}
