// The key-path syntax of offers: full hive names, hive abbreviations, or
// paths relative to the Software keys, written as a 64-bit program sees them.
// Registry names do not depend on letter case, so every comparison here is
// made on lower-cased text and the callers may pass any case.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace win32 {

inline constexpr std::array<std::wstring_view, 5> hiveNames = {
    L"hkey_local_machine", L"hkey_current_user", L"hkey_classes_root", L"hkey_users", L"hkey_current_config"};

inline constexpr std::array<std::pair<std::wstring_view, std::wstring_view>, 5> hiveAbbreviations = {{
    {L"hkcc", L"hkey_current_config"},
    {L"hkcr", L"hkey_classes_root"},
    {L"hkcu", L"hkey_current_user"},
    {L"hklm", L"hkey_local_machine"},
    {L"hku", L"hkey_users"},
}};

inline constexpr std::array<std::wstring_view, 2> softwareRoots = {L"hkey_local_machine\\software\\",
                                                                   L"hkey_current_user\\software\\"};

inline constexpr std::array<std::wstring_view, 2> wow64SoftwareRoots = {L"hkey_local_machine\\software\\wow6432node\\",
                                                                        L"hkey_current_user\\software\\wow6432node\\"};

// Lower case independent of the C runtime's locale, so that a name folds the
// same way whichever thread or build compares it.
std::wstring LowerCase(std::wstring_view text);

// Pieces between separators, read the way successive std::getline calls read
// a stream: a final separator adds no empty piece, empty text gives none.
std::vector<std::wstring> SplitPath(std::wstring_view text, wchar_t separator);

// The full key paths a path names. A relative path names the key under both
// Software roots, and on 64-bit Windows under both Wow6432Node roots as well.
std::vector<std::wstring> ExpandKeyPath(std::wstring_view path);
std::vector<std::wstring> ExpandKeyPath(std::wstring_view path, bool sixtyFourBitWindows);

// The predefined key of a full hive name; null for any other text.
HKEY HiveHandle(std::wstring_view fullHiveName);

// Length of the Software root the path begins with, 0 when it begins with none.
std::size_t SoftwareRootLength(std::wstring_view path);

}  // namespace win32
