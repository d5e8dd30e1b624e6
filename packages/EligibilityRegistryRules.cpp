// The registry and installed-application checks of the eligibility engine.
#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <cwctype>
#include <stdexcept>
#include <string>

#include "packages/EligibilityEngine.h"
#include "packages/LocalPaths.h"
#include "packages/Package.h"
#include "registry/RegistryError.h"
#include "registry/RegistryKeys.h"
#include "registry/RegistryPath.h"
#include "registry/RegistryValues.h"
#include "registry/RegistryView.h"
#include "registry/ScopedKey.h"

namespace {

constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// The full paths an entry names: lower-cased, then expanded by the key-path syntax.
std::vector<std::wstring> Candidates(const std::wstring& entry) {
    std::wstring lower = entry;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return std::towlower(c); });
    return win32::ExpandKeyPath(lower);
}

// Splits "a\b\c" at its last backslash into "a\b" and "c".
std::pair<std::wstring, std::wstring> SplitLast(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return {std::wstring(), path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// Opens an existing key in the view its path names; empty when it is not there.
win32::ScopedKey OpenExistingKey(win32::RegistryKeyCache& cache, std::wstring keyPath) {
    if (!cache.KeyExists(keyPath)) return win32::ScopedKey();
    REGSAM access = KEY_READ;
    if (win32::SelectRegistryView(keyPath, access)) return win32::ScopedKey();
    try {
        return win32::OpenKeyForRead(keyPath, access);
    } catch (const win32::RegistryError&) {
        return win32::ScopedKey();
    }
}

// The expected data of an entry as a number, read the way std::stoul and
// std::stoull read it. The failures leave the engine, and the offer they
// belong to is skipped; their texts must not depend on the runtime library
// the program happens to be built with.
template <typename Number>
Number ExpectedNumber(const std::wstring& text, Number (*convert)(const wchar_t*, wchar_t**, int), const char* name) {
    const int savedErrno = errno;
    errno = 0;
    wchar_t* end = nullptr;
    const Number number = convert(text.c_str(), &end, 10);
    const bool outOfRange = errno == ERANGE;
    errno = savedErrno;
    if (end == text.c_str()) throw std::invalid_argument(std::string("invalid ") + name + " argument");
    if (outOfRange) throw std::out_of_range(std::string(name) + " argument out of range");
    return number;
}

bool DataMatches(HKEY key, const std::wstring& valueName, const std::wstring& expected) {
    switch (win32::QueryRegistryValueType(key, valueName)) {
    case REG_SZ: {
        std::wstring text;
        try {
            text = win32::ReadRegistryString(key, std::wstring(), valueName);
        } catch (const win32::RegistryError&) {
            return false;
        }
        std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
        return text == expected;
    }
    case REG_DWORD: {
        std::uint32_t value = 0;
        try {
            value = win32::ReadRegistryDword(key, valueName);
        } catch (const win32::RegistryError&) {
            return false;
        }
        // A malformed number is the server's mistake and ends the evaluation.
        return value == ExpectedNumber<unsigned long>(expected, std::wcstoul, "stoul");
    }
    case REG_QWORD: {
        std::uint64_t value = 0;
        try {
            value = win32::ReadRegistryQword(key, valueName);
        } catch (const win32::RegistryError&) {
            return false;
        }
        return value == ExpectedNumber<unsigned long long>(expected, std::wcstoull, "stoull");
    }
    default: return false;
    }
}

}  // namespace

bool EligibilityEngine::RejectedByRegistryKey(const std::shared_ptr<Package>& offer) {
    for (const std::wstring& entry : offer->BlockingKeys()) {
        const std::vector<std::wstring> candidates = Candidates(entry);
        // An empty entry ends the list.
        if (candidates.empty()) return false;
        for (const std::wstring& candidate : candidates) {
            if (registryKeyCache.KeyExists(candidate)) {
                ReportRejection(offer, "REGISTRY KEY EXISTS");
                return true;
            }
        }
    }
    return false;
}

bool EligibilityEngine::RejectedByRegistryValue(const std::shared_ptr<Package>& offer) {
    for (const std::wstring& entry : offer->BlockingValues()) {
        const std::vector<std::wstring> candidates = Candidates(entry);
        if (candidates.empty()) return false;
        for (const std::wstring& candidate : candidates) {
            const auto [keyPath, valueName] = SplitLast(candidate);
            win32::ScopedKey key = OpenExistingKey(registryKeyCache, keyPath);
            if (key && win32::RegistryValueExists(key.Get(), valueName)) {
                ReportRejection(offer, "REGISTRY VALUE EXISTS");
                return true;
            }
        }
    }
    return false;
}

bool EligibilityEngine::RejectedByRegistryValueData(const std::shared_ptr<Package>& offer) {
    for (const std::wstring& entry : offer->BlockingValueData()) {
        for (const std::wstring& candidate : Candidates(entry)) {
            const auto [rest, expected] = SplitLast(candidate);
            const auto [keyPath, valueName] = SplitLast(rest);
            win32::ScopedKey key = OpenExistingKey(registryKeyCache, keyPath);
            if (!key || !win32::RegistryValueExists(key.Get(), valueName)) continue;
            if (DataMatches(key.Get(), valueName, expected)) {
                ReportRejection(offer, "REGISTRY VALUE DATA MATCHES");
                return true;
            }
        }
    }
    return false;
}

bool EligibilityEngine::RejectedByMissingApp(const std::shared_ptr<Package>& offer) {
    for (const std::wstring& required : offer->RequiredApps()) {
        if (!IsAppInstalled(required)) {
            ReportRejection(offer, "REGISTRY INCLUDE APP NOT FOUND");
            return true;
        }
    }
    return false;
}

bool EligibilityEngine::RejectedByExcludedApp(const std::shared_ptr<Package>& offer) {
    for (const std::wstring& excluded : offer->ExcludedApps()) {
        if (IsAppInstalled(excluded)) {
            ReportRejection(offer, "REGISTRY EXCLUDE APP FOUND");
            return true;
        }
    }
    return false;
}

bool EligibilityEngine::IsAppInstalled(const std::wstring& name) {
    if (appPathsIndex.empty()) BuildAppPathsIndex();
    const auto [first, last] = appPathsIndex.equal_range(name);
    for (auto entry = first; entry != last; ++entry) {
        AppPathsEntry& app = entry->second;
        if (!app.resolved) {
            app.path = ReadAppPath(app.root, app.viewFlag, name);
            app.resolved = true;
        }
        if (!app.path.empty() && LocalPathExists(app.path)) return true;
    }
    return false;
}

void EligibilityEngine::BuildAppPathsIndex() {
    appPathsIndex.clear();
    // On 64-bit Windows both views hold registrations: the 32-bit one first.
    std::vector<REGSAM> views{0};
    if (win32::IsWow64()) views = {win32::ThirtyTwoBitViewFlag(), win32::SixtyFourBitViewFlag()};
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const REGSAM view : views) {
            try {
                win32::ScopedKey key = win32::OpenKeyForRead(root, kAppPathsKey, KEY_READ | view);
                for (const std::wstring& name : win32::EnumerateSubkeys(key.Get())) {
                    appPathsIndex.emplace(name, AppPathsEntry{root, view, std::wstring(), false});
                }
            } catch (const win32::RegistryError&) {
                // A view without App Paths has nothing to contribute.
            }
        }
    }
}

std::wstring EligibilityEngine::ReadAppPath(HKEY root, REGSAM viewFlag, const std::wstring& name) {
    try {
        win32::ScopedKey key = win32::OpenKeyForRead(root, kAppPathsKey + name, KEY_READ | viewFlag);
        return win32::ReadRegistryString(key.Get(), std::wstring(), std::wstring());
    } catch (const win32::RegistryError&) {
        return std::wstring();
    }
}
