#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "registry/RegistryError.h"
#include "registry/RegistryKeyCache.h"
#include "registry/RegistryKeys.h"
#include "registry/RegistryPath.h"
#include "registry/RegistryView.h"

namespace {

// Where a vendor key can live, and how an offer names that place.
struct Place {
    HKEY hive;
    REGSAM viewFlag;
    const wchar_t* root;
};

// In the order ExpandKeyPath lists a relative path on 64-bit Windows.
const Place machine64{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"hkey_local_machine\\software\\"};
const Place user64{HKEY_CURRENT_USER, KEY_WOW64_64KEY, L"hkey_current_user\\software\\"};
const Place machine32{HKEY_LOCAL_MACHINE, win32::ThirtyTwoBitViewFlag(), L"hkey_local_machine\\software\\wow6432node\\"};
const Place user32{HKEY_CURRENT_USER, win32::ThirtyTwoBitViewFlag(), L"hkey_current_user\\software\\wow6432node\\"};
const Place places[] = {machine64, user64, machine32, user32};

std::wstring UniqueVendorName() {
    static int counter = 0;
    return L"OstrelRegistryCacheTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

void Check(LONG result) {
    if (result != ERROR_SUCCESS) throw std::runtime_error("cannot prepare the test keys: " + std::to_string(result));
}

// A vendor key of the test's own under Software in one hive and view,
// removed with everything below it.
class ScratchVendor {
public:
    explicit ScratchVendor(const Place& place, std::wstring name = UniqueVendorName())
        : place_(place), name_(std::move(name)) {
        AddSubkey(L"");
    }
    ~ScratchVendor() {
        HKEY software = nullptr;
        if (::RegOpenKeyExW(place_.hive, L"Software", 0, KEY_ALL_ACCESS | place_.viewFlag, &software) == ERROR_SUCCESS) {
            ::RegDeleteTreeW(software, name_.c_str());
            ::RegCloseKey(software);
        }
    }
    ScratchVendor(const ScratchVendor&) = delete;
    ScratchVendor& operator=(const ScratchVendor&) = delete;

    const std::wstring& name() const { return name_; }

    void AddSubkey(const std::wstring& subkey) const {
        const std::wstring path = L"Software\\" + name_ + (subkey.empty() ? L"" : L"\\" + subkey);
        win32::ScopedKey created;
        Check(::RegCreateKeyExW(place_.hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | place_.viewFlag, nullptr,
                                created.Put(), nullptr));
    }
    // The vendor's path as an offer names it, optionally with a deeper part.
    std::wstring Path(const std::wstring& below = L"") const { return PathAt(place_, below); }
    std::wstring PathAt(const Place& place, const std::wstring& below = L"") const {
        return place.root + name_ + (below.empty() ? L"" : L"\\" + below);
    }

private:
    Place place_;
    std::wstring name_;
};

// A key directly below HKCU, outside both Software roots.
class ScratchUserKey {
public:
    ScratchUserKey() : name_(UniqueVendorName()) {
        win32::ScopedKey created;
        Check(::RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                created.Put(), nullptr));
    }
    ~ScratchUserKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str()); }
    ScratchUserKey(const ScratchUserKey&) = delete;
    ScratchUserKey& operator=(const ScratchUserKey&) = delete;

    std::wstring Path() const { return L"hkey_current_user\\" + name_; }

private:
    std::wstring name_;
};

bool Opens(HKEY hive, const std::wstring& subkey, REGSAM viewFlag) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(hive, subkey.c_str(), 0, KEY_READ | viewFlag, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

std::vector<std::wstring> ListSoftware(HKEY hive, REGSAM viewFlag) {
    const win32::ScopedKey software = win32::OpenKeyForRead(hive, L"software", KEY_READ | viewFlag);
    return win32::EnumerateSubkeys(software.Get());
}

TEST(RegistryViews, ThirtyTwoBitViewIsTheWow6432NodeOfTheSixtyFourBitView) {
    const ScratchVendor vendor32(machine32);
    EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, L"Software\\" + vendor32.name(), win32::ThirtyTwoBitViewFlag()));
    EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\" + vendor32.name(), KEY_WOW64_64KEY));
    EXPECT_FALSE(Opens(HKEY_LOCAL_MACHINE, L"Software\\" + vendor32.name(), KEY_WOW64_64KEY));

    const ScratchVendor vendor64(machine64);
    EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, L"Software\\" + vendor64.name(), KEY_WOW64_64KEY));
    EXPECT_FALSE(Opens(HKEY_LOCAL_MACHINE, L"Software\\" + vendor64.name(), win32::ThirtyTwoBitViewFlag()));
}

TEST(RegistryKeyCache, FindsAVendorAndItsDeeperKeysInEachHiveAndView) {
    win32::RegistryKeyCache cache;
    for (const Place& place : places) {
        const ScratchVendor vendor(place);
        vendor.AddSubkey(L"Product\\1.0");
        EXPECT_TRUE(cache.KeyExists(vendor.Path())) << vendor.Path();
        EXPECT_TRUE(cache.KeyExists(vendor.Path(L"product\\1.0"))) << vendor.Path();
        EXPECT_TRUE(cache.KeyExists(vendor.Path() + L"\\")) << vendor.Path();
        EXPECT_FALSE(cache.KeyExists(vendor.Path(L"product\\2.0"))) << vendor.Path();
        EXPECT_FALSE(cache.KeyExists(vendor.Path(L"missing"))) << vendor.Path();
    }
}

TEST(RegistryKeyCache, MachineViewsAndHivesAreSeparate) {
    const ScratchVendor vendor64(machine64);
    const ScratchVendor vendor32(machine32);
    win32::RegistryKeyCache cache;
    EXPECT_TRUE(cache.KeyExists(vendor64.PathAt(machine64)));
    EXPECT_FALSE(cache.KeyExists(vendor64.PathAt(machine32)));
    EXPECT_FALSE(cache.KeyExists(vendor64.PathAt(user64)));

    EXPECT_TRUE(cache.KeyExists(vendor32.PathAt(machine32)));
    EXPECT_FALSE(cache.KeyExists(vendor32.PathAt(machine64)));
    EXPECT_FALSE(cache.KeyExists(vendor32.PathAt(user64)));
}

TEST(RegistryKeyCache, RelativePathFindsTheVendorWhereverItIs) {
    for (const Place& place : places) {
        const ScratchVendor vendor(place);
        vendor.AddSubkey(L"App");
        win32::RegistryKeyCache cache;
        const std::vector<std::wstring> candidates = win32::ExpandKeyPath(win32::LowerCase(vendor.name() + L"\\app"));
        EXPECT_TRUE(std::any_of(candidates.begin(), candidates.end(),
                                [&](const std::wstring& path) { return cache.KeyExists(path); }))
            << vendor.Path();
    }
}

TEST(RegistryKeyCache, AbsentVendorsAreAnsweredFromTheListingWithoutOpeningKeys) {
    const ScratchVendor vendor(machine64);
    win32::RegistryKeyCache cache;
    ASSERT_TRUE(cache.KeyExists(vendor.Path()));
    const win32::RegistryKeyCache::Statistics before = cache.statistics();
    EXPECT_EQ(before.listings, 1u);

    for (int index = 0; index < 20; ++index) EXPECT_FALSE(cache.KeyExists(machine64.root + UniqueVendorName()));
    EXPECT_EQ(cache.statistics().listings, before.listings);
    EXPECT_EQ(cache.statistics().keyOpens, before.keyOpens);

    // A listed vendor whose deeper part is missing costs one open.
    EXPECT_FALSE(cache.KeyExists(vendor.Path(L"missing")));
    EXPECT_EQ(cache.statistics().keyOpens, before.keyOpens + 1);
}

TEST(RegistryKeyCache, ListingIsASnapshotTakenOncePerCache) {
    win32::RegistryKeyCache cache;
    const std::wstring name = UniqueVendorName();
    EXPECT_FALSE(cache.KeyExists(machine64.root + name));
    const ScratchVendor vendor(machine64, name);
    EXPECT_FALSE(cache.KeyExists(vendor.Path()));
    EXPECT_TRUE(win32::RegistryKeyCache().KeyExists(vendor.Path()));
}

TEST(RegistryKeyCache, EachHiveAndViewIsListedOnceWithTheViewItsPathNames) {
    std::vector<std::pair<HKEY, REGSAM>> asked;
    win32::RegistryKeyCache cache([&](HKEY hive, REGSAM viewFlag) {
        asked.emplace_back(hive, viewFlag);
        return ListSoftware(hive, viewFlag);
    });
    for (int round = 0; round < 3; ++round) {
        for (const Place& place : places) EXPECT_FALSE(cache.KeyExists(place.root + UniqueVendorName()));
    }
    std::vector<std::pair<HKEY, REGSAM>> expected;
    for (const Place& place : places) expected.emplace_back(place.hive, place.viewFlag);
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(cache.statistics().listings, expected.size());
    EXPECT_EQ(cache.statistics().keyOpens, 0u);
}

TEST(RegistryKeyCache, UnreadableListingMakesKeysAbsentAndIsTriedAgain) {
    const ScratchVendor vendor(machine64);
    bool failNext = true;
    win32::RegistryKeyCache cache([&](HKEY hive, REGSAM viewFlag) {
        if (std::exchange(failNext, false)) throw win32::RegistryError("listing refused", ERROR_ACCESS_DENIED);
        return ListSoftware(hive, viewFlag);
    });
    EXPECT_FALSE(cache.KeyExists(vendor.Path()));
    EXPECT_EQ(cache.statistics().keyOpens, 0u);
    EXPECT_TRUE(cache.KeyExists(vendor.Path()));
    EXPECT_EQ(cache.statistics().listings, 2u);
}

TEST(RegistryKeyCache, NamesMatchWithoutRegardToLetterCase) {
    const ScratchVendor vendor(machine64, L"OstrelMixedCase-" + UniqueVendorName());
    vendor.AddSubkey(L"Product");
    win32::RegistryKeyCache cache;
    EXPECT_TRUE(cache.KeyExists(win32::LowerCase(vendor.Path(L"product"))));
    EXPECT_TRUE(cache.KeyExists(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\" + vendor.name() + L"\\PRODUCT"));
    EXPECT_EQ(cache.statistics().listings, 1u);
}

TEST(RegistryKeyCache, SoftwareKeysThemselvesExist) {
    win32::RegistryKeyCache cache;
    for (const wchar_t* path :
         {L"hkey_local_machine\\software\\", L"hkey_current_user\\software\\",
          L"hkey_local_machine\\software\\wow6432node\\", L"hkey_local_machine\\software\\wow6432node"}) {
        EXPECT_TRUE(cache.KeyExists(path)) << path;
    }
}

TEST(RegistryKeyCache, KeysOutsideTheSoftwareRootsAreOpenedDirectly) {
    const ScratchUserKey key;
    win32::RegistryKeyCache cache;
    EXPECT_TRUE(cache.KeyExists(key.Path()));
    EXPECT_FALSE(cache.KeyExists(key.Path() + L"\\missing"));
    EXPECT_TRUE(cache.KeyExists(L"hkey_local_machine\\software"));
    EXPECT_FALSE(cache.KeyExists(L"hkey_nowhere\\software\\x"));
    EXPECT_FALSE(cache.KeyExists(L""));
    EXPECT_EQ(cache.statistics().listings, 0u);
    EXPECT_EQ(cache.statistics().keyOpens, 5u);
}

}  // namespace
