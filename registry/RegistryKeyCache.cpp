#include "registry/RegistryKeyCache.h"

#include <algorithm>
#include <utility>

#include "registry/RegistryError.h"
#include "registry/RegistryKeys.h"
#include "registry/RegistryPath.h"
#include "registry/RegistryView.h"

namespace win32 {
namespace {

std::vector<std::wstring> ListSoftwareKey(HKEY hive, REGSAM viewFlag) {
    const ScopedKey software = OpenKeyForRead(hive, L"software", KEY_READ | viewFlag);
    return EnumerateSubkeys(software.Get());
}

}  // namespace

RegistryKeyCache::RegistryKeyCache() : RegistryKeyCache(ListSoftwareKey) {
}

RegistryKeyCache::RegistryKeyCache(SoftwareLister lister) : lister_(std::move(lister)) {
}

bool RegistryKeyCache::KeyExists(std::wstring_view path) {
    const std::size_t rootLength = SoftwareRootLength(path);
    if (rootLength == 0) return OpensInDefaultView(path);

    std::wstring viewPath(path);
    REGSAM viewFlag = 0;
    if (SelectRegistryView(viewPath, viewFlag)) return false;

    const std::size_t hiveLength = path.find(L'\\');
    const HKEY hive = HiveHandle(path.substr(0, hiveLength));
    const Listing* listing = FindOrLoadListing(hive, viewFlag);
    if (!listing) return false;

    const std::wstring_view rest = std::wstring_view(viewPath).substr(rootLength);
    // The Software key itself, which the listing has just shown to exist.
    if (rest.empty()) return true;
    if (!listing->names.contains(LowerCase(rest.substr(0, rest.find(L'\\'))))) return false;
    return OpensBelowHive(hive, std::wstring_view(viewPath).substr(hiveLength + 1), viewFlag);
}

const RegistryKeyCache::Listing* RegistryKeyCache::FindOrLoadListing(HKEY hive, REGSAM viewFlag) {
    const auto found = std::find_if(listings_.begin(), listings_.end(), [&](const Listing& listing) {
        return listing.hive == hive && listing.viewFlag == viewFlag;
    });
    if (found != listings_.end()) return &*found;

    ++statistics_.listings;
    std::vector<std::wstring> names;
    try {
        names = lister_(hive, viewFlag);
    } catch (const RegistryError&) {
        return nullptr;
    }
    listings_.push_back(
        {hive, viewFlag, {std::make_move_iterator(names.begin()), std::make_move_iterator(names.end())}});
    return &listings_.back();
}

bool RegistryKeyCache::OpensInDefaultView(std::wstring_view path) {
    ++statistics_.keyOpens;
    try {
        OpenKeyForRead(path, KEY_READ);
        return true;
    } catch (const RegistryError&) {
        return false;
    }
}

bool RegistryKeyCache::OpensBelowHive(HKEY hive, std::wstring_view subkey, REGSAM viewFlag) {
    ++statistics_.keyOpens;
    try {
        OpenKeyForRead(hive, subkey, KEY_READ | viewFlag);
        return true;
    } catch (const RegistryError&) {
        return false;
    }
}

}  // namespace win32
