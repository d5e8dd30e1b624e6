#include "install/ExecutableSearch.h"

#include <windows.h>

#include <cwctype>

#include "framework/Handles.h"

namespace {

// "*.exe" also matches through 8.3 aliases ("notes.exe_" is "NOTES~1.EXE"),
// so the long name decides.
bool HasExeExtension(const CStringW& name) {
    constexpr wchar_t kExtension[] = L".exe";
    constexpr size_t kLength = 4;
    if (name.size() <= kLength) return false;
    for (size_t i = 0; i < kLength; ++i) {
        if (std::towlower(name[name.size() - kLength + i]) != kExtension[i]) return false;
    }
    return true;
}

}  // namespace

CStringW FindFirstExecutable(const CStringW& folder) {
    CStringW pattern = folder;
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L"*.exe";

    WIN32_FIND_DATAW entry{};
    framework::UniqueFindHandle search(::FindFirstFileW(pattern.c_str(), &entry));
    if (!search) return {};
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && HasExeExtension(entry.cFileName)) {
            return entry.cFileName;
        }
    } while (::FindNextFileW(search.Get(), &entry));
    return {};
}
