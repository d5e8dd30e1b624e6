#include "registry/RegistryPath.h"

#include <cwctype>
#include <optional>

#include "registry/RegistryView.h"

namespace win32 {
namespace {

const std::array<std::pair<std::wstring_view, HKEY>, 5> hiveHandles = {{
    {L"hkey_local_machine", HKEY_LOCAL_MACHINE},
    {L"hkey_current_user", HKEY_CURRENT_USER},
    {L"hkey_classes_root", HKEY_CLASSES_ROOT},
    {L"hkey_users", HKEY_USERS},
    {L"hkey_current_config", HKEY_CURRENT_CONFIG},
}};

// A hive counts only when a backslash follows it: "hklm" alone is a vendor name.
bool BeginsWithHive(std::wstring_view lowerPath, std::wstring_view hive) {
    return lowerPath.size() > hive.size() && lowerPath.starts_with(hive) && lowerPath[hive.size()] == L'\\';
}

std::optional<std::wstring> WithFullHiveName(std::wstring_view path) {
    const std::wstring lower = LowerCase(path);
    for (std::wstring_view name : hiveNames) {
        if (BeginsWithHive(lower, name)) return std::wstring(name) + std::wstring(path.substr(name.size()));
    }
    for (const auto& [shortName, fullName] : hiveAbbreviations) {
        if (BeginsWithHive(lower, shortName))
            return std::wstring(fullName) + std::wstring(path.substr(shortName.size()));
    }
    return std::nullopt;
}

void AppendUnderRoots(std::vector<std::wstring>& paths, const std::array<std::wstring_view, 2>& roots,
                      std::wstring_view path) {
    for (std::wstring_view root : roots) paths.push_back(std::wstring(root) + std::wstring(path));
}

}  // namespace

std::wstring LowerCase(std::wstring_view text) {
    std::wstring lower(text);
    if (lower.empty()) return lower;
    const int length = static_cast<int>(lower.size());
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.data(), length, lower.data(), length, nullptr,
                        nullptr, 0) == length) {
        return lower;
    }
    // Lower-casing never changes the length, so a failure here means the
    // mapping itself is unavailable; the C runtime still folds ASCII.
    lower.assign(text);
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    return lower;
}

std::vector<std::wstring> SplitPath(std::wstring_view text, wchar_t separator) {
    std::vector<std::wstring> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(separator, start);
        if (end == std::wstring_view::npos) {
            pieces.emplace_back(text.substr(start));
            break;
        }
        pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::wstring> ExpandKeyPath(std::wstring_view path) {
    return ExpandKeyPath(path, IsWow64());
}

std::vector<std::wstring> ExpandKeyPath(std::wstring_view path, bool sixtyFourBitWindows) {
    if (path.empty()) return {};
    if (auto full = WithFullHiveName(path)) return {std::move(*full)};
    std::vector<std::wstring> paths;
    AppendUnderRoots(paths, softwareRoots, path);
    if (sixtyFourBitWindows) AppendUnderRoots(paths, wow64SoftwareRoots, path);
    return paths;
}

HKEY HiveHandle(std::wstring_view fullHiveName) {
    const std::wstring lower = LowerCase(fullHiveName);
    for (const auto& [name, handle] : hiveHandles) {
        if (lower == name) return handle;
    }
    return nullptr;
}

std::size_t SoftwareRootLength(std::wstring_view path) {
    for (std::wstring_view root : softwareRoots) {
        if (LowerCase(path.substr(0, root.size())) == root) return root.size();
    }
    return 0;
}

}  // namespace win32
