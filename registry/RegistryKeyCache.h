// Existence of registry keys for one evaluation of the offers. Offers name
// many vendor keys under the Software roots, and most are absent: the
// Software listing of each hive and view is read once, and a vendor missing
// from it is answered from memory without opening anything.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace win32 {

class RegistryKeyCache {
public:
    // Lists the lower-cased subkeys of the Software key of a hive in a view
    // (view flag 0 for the default view); throws RegistryError when it cannot.
    using SoftwareLister = std::function<std::vector<std::wstring>(HKEY hive, REGSAM viewFlag)>;

    // What the cache has cost so far, for tests and measurements.
    struct Statistics {
        std::size_t listings = 0;  // Software listings attempted
        std::size_t keyOpens = 0;  // key opens attempted, listings aside
    };

    RegistryKeyCache();
    explicit RegistryKeyCache(SoftwareLister lister);

    // Whether a full key path exists. Never throws RegistryError: a key that
    // cannot be opened or listed counts as absent.
    bool KeyExists(std::wstring_view path);

    const Statistics& statistics() const noexcept { return statistics_; }

private:
    struct Listing {
        HKEY hive;
        REGSAM viewFlag;
        std::unordered_set<std::wstring> names;
    };

    const Listing* FindOrLoadListing(HKEY hive, REGSAM viewFlag);
    bool OpensInDefaultView(std::wstring_view path);
    bool OpensBelowHive(HKEY hive, std::wstring_view subkey, REGSAM viewFlag);

    SoftwareLister lister_;
    // Only listings that were read: a failed one is tried again next time.
    std::vector<Listing> listings_;
    Statistics statistics_;
};

}  // namespace win32
