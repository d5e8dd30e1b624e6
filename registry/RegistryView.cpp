#include "registry/RegistryView.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "registry/RegistryPath.h"

namespace win32 {
namespace {

constexpr std::wstring_view wow6432Node = L"wow6432node";

#ifndef _WIN64
bool ProcessRunsUnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}
#endif

// Length of the Wow6432Node piece at the start of `rest`, with its backslash
// when one follows; 0 when the first piece is something else.
std::size_t Wow6432NodePieceLength(std::wstring_view rest) {
    const std::wstring_view first = rest.substr(0, rest.find(L'\\'));
    if (LowerCase(first) != wow6432Node) return 0;
    return std::min(rest.size(), first.size() + 1);
}

}  // namespace

bool IsWow64() {
#ifdef _WIN64
    return true;
#else
    static const bool wow64 = ProcessRunsUnderWow64();
    return wow64;
#endif
}

bool SelectRegistryView(std::wstring& path, REGSAM& access) {
    return SelectRegistryView(path, access, IsWow64());
}

bool SelectRegistryView(std::wstring& path, REGSAM& access, bool sixtyFourBitWindows) {
    const std::size_t rootLength = SoftwareRootLength(path);
    if (rootLength == 0) return false;
    // A bare Software root names no vendor: a malformed entry that ends the
    // evaluation of the configuration, as every malformed entry does.
    if (rootLength == path.size()) throw std::out_of_range("invalid vector subscript");
    const std::size_t wow6432NodeLength = Wow6432NodePieceLength(std::wstring_view(path).substr(rootLength));
    if (wow6432NodeLength == 0) {
        if (sixtyFourBitWindows) access |= SixtyFourBitViewFlag();
        return false;
    }
    if (!sixtyFourBitWindows) return true;
    path.erase(rootLength, wow6432NodeLength);
    access |= ThirtyTwoBitViewFlag();
    return false;
}

}  // namespace win32
