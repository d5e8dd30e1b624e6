#include "packages/LocalPaths.h"

#include <windows.h>
#include <shlwapi.h>

#include <string_view>

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

}  // namespace

bool IsNetworkOrDevicePath(const std::wstring& path) {
    // A quoted or indented path is not read as one by the system, but no
    // spelling of a share is worth the risk.
    const size_t start = path.find_first_not_of(L" \t\"");
    if (start == std::wstring::npos) return false;
    const std::wstring_view rest = std::wstring_view(path).substr(start);
    if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) return true;
    return rest.size() >= 4 && IsSeparator(rest[0]) && rest[1] == L'?' && rest[2] == L'?' && IsSeparator(rest[3]);
}

bool LocalPathExists(const std::wstring& path) {
    return !IsNetworkOrDevicePath(path) && ::PathFileExistsW(path.c_str());
}
