#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "registry/RegistryError.h"
#include "registry/RegistryKeyCache.h"
#include "registry/RegistryKeys.h"
#include "registry/RegistryPath.h"
#include "registry/RegistryValues.h"
#include "registry/RegistryView.h"

namespace {

// Where a vendor key can live, and how an offer names that place.
struct Place {
    HKEY hive;
    REGSAM viewFlag;
    const wchar_t* root;
};

const Place machine64{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"hkey_local_machine\\software\\"};
const Place user64{HKEY_CURRENT_USER, KEY_WOW64_64KEY, L"hkey_current_user\\software\\"};
const Place machine32{HKEY_LOCAL_MACHINE, win32::ThirtyTwoBitViewFlag(),
                      L"hkey_local_machine\\software\\wow6432node\\"};
const Place user32{HKEY_CURRENT_USER, win32::ThirtyTwoBitViewFlag(), L"hkey_current_user\\software\\wow6432node\\"};
const Place places[] = {machine64, user64, machine32, user32};

std::wstring UniqueName() {
    static int count = 0;
    return L"OstrelRegistryTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
}

void Check(LONG result) {
    if (result != ERROR_SUCCESS) throw std::runtime_error("cannot prepare the test keys: " + std::to_string(result));
}

// A key of the test's own below `parent` of a hive in a view, removed with
// everything below it.
class ScratchKey {
public:
    ScratchKey(HKEY hive, REGSAM viewFlag, std::wstring parent, std::wstring name = UniqueName())
        : hive_(hive), viewFlag_(viewFlag), parent_(std::move(parent)), name_(std::move(name)) {
        const std::wstring path = parent_.empty() ? name_ : parent_ + L"\\" + name_;
        Check(::RegCreateKeyExW(hive_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | viewFlag_, nullptr, key_.Put(),
                                nullptr));
    }
    explicit ScratchKey(const Place& place = user64) : ScratchKey(place.hive, place.viewFlag, L"Software") {}
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    ~ScratchKey() {
        key_.Reset();
        win32::ScopedKey parent;
        if (::RegOpenKeyExW(hive_, parent_.c_str(), 0, KEY_ALL_ACCESS | viewFlag_, parent.Put()) == ERROR_SUCCESS) {
            ::RegDeleteTreeW(parent.Get(), name_.c_str());
        }
    }

    HKEY get() const { return key_.Get(); }
    const std::wstring& name() const { return name_; }
    std::wstring At(const Place& place, const std::wstring& below = L"") const {
        return place.root + name_ + (below.empty() ? L"" : L"\\" + below);
    }

    void AddSubkey(const std::wstring& below) const {
        win32::ScopedKey created;
        Check(::RegCreateKeyExW(get(), below.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.Put(), nullptr));
    }
    void Set(const std::wstring& name, DWORD type, const void* data, std::size_t size) const {
        Check(::RegSetValueExW(get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)));
    }
    // With its terminating null, as programs normally store text.
    void SetText(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) const {
        Set(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    template <typename Number>
    void SetNumber(const std::wstring& name, Number number) const {
        Set(name, sizeof(number) == 4 ? REG_DWORD : REG_QWORD, &number, sizeof(number));
    }

private:
    HKEY hive_;
    REGSAM viewFlag_;
    std::wstring parent_;
    std::wstring name_;
    win32::ScopedKey key_;
};

template <typename Call>
void ExpectRegistryError(Call call, const char* message, LONG code) {
    try {
        call();
        ADD_FAILURE() << "no RegistryError; expected \"" << message << "\"";
    } catch (const win32::RegistryError& error) {
        EXPECT_STREQ(error.what(), message);
        EXPECT_EQ(error.code(), code);
    }
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

bool OpensBelowMachine(const std::wstring& subkey, REGSAM viewFlag) {
    win32::ScopedKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | viewFlag, key.Put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> ListSoftware(HKEY hive, REGSAM viewFlag) {
    return win32::EnumerateSubkeys(win32::OpenKeyForRead(hive, L"software", KEY_READ | viewFlag).Get());
}

constexpr char openFailed[] = "Cannot open registry key: RegOpenKeyEx failed.";

TEST(RegistryViews, ThirtyTwoBitViewIsTheWow6432NodeOfTheSixtyFourBitView) {
    const ScratchKey vendor32(machine32);
    const ScratchKey vendor64(machine64);
    EXPECT_TRUE(OpensBelowMachine(L"Software\\" + vendor32.name(), win32::ThirtyTwoBitViewFlag()));
    EXPECT_TRUE(OpensBelowMachine(L"Software\\Wow6432Node\\" + vendor32.name(), KEY_WOW64_64KEY));
    EXPECT_FALSE(OpensBelowMachine(L"Software\\" + vendor32.name(), KEY_WOW64_64KEY));
    EXPECT_FALSE(OpensBelowMachine(L"Software\\" + vendor64.name(), win32::ThirtyTwoBitViewFlag()));
}

TEST(RegistryOpenKeyForRead, OpensFullPathsInAnyCaseButNotBareHives) {
    const ScratchKey scratch;
    scratch.AddSubkey(L"Product");
    for (const std::wstring& path : {scratch.At(user64), L"HKEY_CURRENT_USER\\Software\\" + scratch.name()}) {
        EXPECT_EQ(win32::EnumerateSubkeys(win32::OpenKeyForRead(path, KEY_READ).Get()),
                  std::vector<std::wstring>{L"product"});
    }
    // A bare hive name names a subkey of the same name under the hive.
    ExpectRegistryError([&] { win32::OpenKeyForRead(L"hkey_current_user", KEY_READ); }, openFailed,
                        ERROR_FILE_NOT_FOUND);
}

TEST(RegistryOpenKeyForRead, FailuresThrowWithTheResultOfTheOpen) {
    const ScratchKey scratch;
    ExpectRegistryError([&] { win32::OpenKeyForRead(scratch.At(user64, L"missing"), KEY_READ); }, openFailed,
                        ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::OpenKeyForRead(scratch.get(), L"missing", KEY_READ); }, openFailed,
                        ERROR_FILE_NOT_FOUND);
    // Without a full hive name a path names no key at all.
    for (const wchar_t* path : {L"hkcu\\software", L"software\\microsoft", L""}) {
        ExpectRegistryError([&] { win32::OpenKeyForRead(path, KEY_READ); }, openFailed, ERROR_FILE_NOT_FOUND);
    }
}

TEST(RegistryEnumerateSubkeys, ListsEveryDirectSubkeyInLowerCaseOrNamesTheFailingStep) {
    const ScratchKey scratch;
    EXPECT_TRUE(win32::EnumerateSubkeys(scratch.get()).empty());
    std::vector<std::wstring> expected{L"\u00e4pfel", std::wstring(255, L'l')};
    scratch.AddSubkey(L"\u00c4pfel\\Deeper");
    scratch.AddSubkey(std::wstring(255, L'L'));
    for (int index = 0; index < 300; ++index) {
        expected.push_back(L"vendor" + std::to_wstring(index));
        scratch.AddSubkey(L"VENDOR" + std::to_wstring(index));
    }
    EXPECT_EQ(Sorted(win32::EnumerateSubkeys(scratch.get())), Sorted(expected));

    // Wine does not check the right RegQueryInfoKey needs; no key fails everywhere.
    ExpectRegistryError([] { win32::EnumerateSubkeys(nullptr); },
                        "RegQueryInfoKey failed while preparing for subkey enumeration.", ERROR_INVALID_HANDLE);
    const win32::ScopedKey cannotEnumerate = win32::OpenKeyForRead(scratch.At(user64), KEY_QUERY_VALUE);
    ExpectRegistryError([&] { win32::EnumerateSubkeys(cannotEnumerate.Get()); },
                        "Cannot enumerate subkeys: RegEnumKeyEx failed.", ERROR_ACCESS_DENIED);
}

TEST(RegistryValueExists, AnyTypeExistsAndReportsItsTypeMissingOrUnqueryableDoesNot) {
    const ScratchKey scratch;
    const std::pair<const wchar_t*, DWORD> values[] = {
        {L"text", REG_SZ},     {L"expandable", REG_EXPAND_SZ}, {L"list", REG_MULTI_SZ}, {L"dword", REG_DWORD},
        {L"qword", REG_QWORD}, {L"binary", REG_BINARY},        {L"none", REG_NONE},     {L"", REG_SZ}};
    for (const auto& [name, type] : values) scratch.Set(name, type, L"1\0\0", 8);
    for (const auto& [name, type] : values) {
        EXPECT_TRUE(win32::RegistryValueExists(scratch.get(), name)) << name;
        EXPECT_EQ(win32::QueryRegistryValueType(scratch.get(), name), type) << name;
    }
    EXPECT_TRUE(win32::RegistryValueExists(scratch.get(), L"TEXT"));
    EXPECT_FALSE(win32::RegistryValueExists(scratch.get(), L"missing"));
    EXPECT_EQ(win32::QueryRegistryValueType(scratch.get(), L"missing"), static_cast<DWORD>(REG_NONE));
    const win32::ScopedKey cannotQuery = win32::OpenKeyForRead(scratch.At(user64), KEY_ENUMERATE_SUB_KEYS);
    EXPECT_FALSE(win32::RegistryValueExists(cannotQuery.Get(), L"text"));
    EXPECT_EQ(win32::QueryRegistryValueType(cannotQuery.Get(), L"text"), static_cast<DWORD>(REG_NONE));
}

TEST(RegistryReads, TextEndsAtItsFirstNullAndNumbersComeBackWhole) {
    const ScratchKey scratch;
    std::wstring longText;
    while (longText.size() < 20000) longText += std::to_wstring(longText.size()) + L"; ";
    scratch.SetText(L"", L"\"C:\\Program Files\\App \u00e9\\app.exe\"");
    scratch.SetText(L"empty", L"");
    scratch.SetText(L"long", longText);
    scratch.Set(L"unterminated", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    scratch.Set(L"embedded", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"OSTREL_REGISTRY_TEST", L"C:\\Expanded"));
    scratch.SetText(L"expandable", L"%OSTREL_REGISTRY_TEST%\\app.exe", REG_EXPAND_SZ);
    scratch.AddSubkey(L"Product");
    Check(::RegSetKeyValueW(scratch.get(), L"Product", L"name", REG_SZ, L"inner", 6 * sizeof(wchar_t)));
    scratch.SetNumber(L"dword", 0xFFFFFFFEu);
    scratch.SetNumber(L"qword", 0x100000005ull);

    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L""), L"\"C:\\Program Files\\App \u00e9\\app.exe\"");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"empty"), L"");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"long"), longText);
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"unterminated"), L"abc");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"embedded"), L"ab");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"expandable"), L"C:\\Expanded\\app.exe");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"product", L"name"), L"inner");
    EXPECT_EQ(win32::ReadRegistryDword(scratch.get(), L"dword"), 0xFFFFFFFEu);
    EXPECT_EQ(win32::ReadRegistryQword(scratch.get(), L"qword"), 0x100000005ull);
    ::SetEnvironmentVariableW(L"OSTREL_REGISTRY_TEST", nullptr);
}

TEST(RegistryReads, FailuresThrowTheirOwnMessageWithTheResult) {
    const ScratchKey scratch;
    scratch.SetNumber(L"dword", 5u);
    scratch.SetNumber(L"qword", 5ull);
    scratch.SetText(L"text", L"5");
    scratch.Set(L"list", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
    const HKEY key = scratch.get();
    const char text[] = "Cannot read string from registry";
    const char dword[] = "Cannot read DWORD from registry.";
    const char qword[] = "Cannot read QWORD from registry.";
    ExpectRegistryError([&] { win32::ReadRegistryString(key, L"", L"missing"); }, text, ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryString(key, L"missing", L"text"); }, text, ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryString(key, L"", L"dword"); }, text, ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryString(key, L"", L"list"); }, text, ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryDword(key, L"missing"); }, dword, ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryDword(key, L"qword"); }, dword, ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryDword(key, L"text"); }, dword, ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryQword(key, L"missing"); }, qword, ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryQword(key, L"dword"); }, qword, ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryQword(key, L"text"); }, qword, ERROR_UNSUPPORTED_TYPE);
}

TEST(RegistryKeyCache, FindsVendorsAndDeeperKeysInEachHiveAndView) {
    for (const Place& place : places) {
        const ScratchKey vendor(place);
        vendor.AddSubkey(L"Product\\1.0");
        win32::RegistryKeyCache cache;
        // The listing is lower case; the vendor's own name is not.
        for (const std::wstring& path :
             {vendor.At(place), win32::LowerCase(vendor.At(place, L"Product\\1.0")), vendor.At(place) + L"\\"}) {
            EXPECT_TRUE(cache.KeyExists(path)) << path;
        }
        EXPECT_FALSE(cache.KeyExists(vendor.At(place, L"product\\2.0")));
    }
}

TEST(RegistryKeyCache, MachineViewsAndHivesAreSeparate) {
    const ScratchKey vendor64(machine64);
    const ScratchKey vendor32(machine32);
    win32::RegistryKeyCache cache;
    EXPECT_TRUE(cache.KeyExists(vendor64.At(machine64)));
    EXPECT_FALSE(cache.KeyExists(vendor64.At(machine32)));
    EXPECT_FALSE(cache.KeyExists(vendor64.At(user64)));
    EXPECT_TRUE(cache.KeyExists(vendor32.At(machine32)));
    EXPECT_FALSE(cache.KeyExists(vendor32.At(machine64)));
    EXPECT_FALSE(cache.KeyExists(vendor32.At(user64)));
}

TEST(RegistryKeyCache, EachHiveAndViewIsListedOnceAndAbsentVendorsCostNoOpen) {
    const ScratchKey vendor(machine64);
    std::vector<std::pair<HKEY, REGSAM>> listed;
    win32::RegistryKeyCache cache([&](HKEY hive, REGSAM viewFlag) {
        listed.emplace_back(hive, viewFlag);
        return ListSoftware(hive, viewFlag);
    });
    for (int round = 0; round < 3; ++round) {
        for (const Place& place : places) EXPECT_FALSE(cache.KeyExists(place.root + UniqueName()));
    }
    std::vector<std::pair<HKEY, REGSAM>> expected;
    for (const Place& place : places) expected.emplace_back(place.hive, place.viewFlag);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(cache.statistics().listings, expected.size());
    EXPECT_EQ(cache.statistics().keyOpens, 0u);

    // Only a vendor that is listed is opened, found or not.
    EXPECT_TRUE(cache.KeyExists(vendor.At(machine64)));
    EXPECT_FALSE(cache.KeyExists(vendor.At(machine64, L"missing")));
    EXPECT_EQ(cache.statistics().keyOpens, 2u);
    EXPECT_EQ(cache.statistics().listings, expected.size());
}

TEST(RegistryKeyCache, UnreadableListingMakesKeysAbsentAndIsTriedAgain) {
    const ScratchKey vendor(machine64);
    bool refuse = true;
    win32::RegistryKeyCache cache([&](HKEY hive, REGSAM viewFlag) {
        if (std::exchange(refuse, false)) throw win32::RegistryError("refused", ERROR_ACCESS_DENIED);
        return ListSoftware(hive, viewFlag);
    });
    EXPECT_FALSE(cache.KeyExists(vendor.At(machine64)));
    EXPECT_EQ(cache.statistics().keyOpens, 0u);
    EXPECT_TRUE(cache.KeyExists(vendor.At(machine64)));
    EXPECT_EQ(cache.statistics().listings, 2u);
}

TEST(RegistryKeyCache, SoftwareKeysThemselvesAndKeysOutsideThemAreOpenedDirectly) {
    const ScratchKey outside(HKEY_CURRENT_USER, 0, L"");
    const std::wstring path = L"hkey_current_user\\" + outside.name();
    win32::RegistryKeyCache cache;
    EXPECT_TRUE(cache.KeyExists(path));
    EXPECT_FALSE(cache.KeyExists(path + L"\\missing"));
    EXPECT_TRUE(cache.KeyExists(L"hkey_local_machine\\software"));
    EXPECT_FALSE(cache.KeyExists(L"hkey_nowhere\\software\\x"));
    EXPECT_FALSE(cache.KeyExists(L""));
    EXPECT_EQ(cache.statistics().listings, 0u);
    EXPECT_EQ(cache.statistics().keyOpens, 5u);

    EXPECT_TRUE(cache.KeyExists(L"hkey_local_machine\\software\\wow6432node"));
    // A bare Software root is a malformed entry: it ends the evaluation.
    for (const wchar_t* root : {L"hkey_local_machine\\software\\", L"hkey_current_user\\software\\"}) {
        EXPECT_THROW(cache.KeyExists(root), std::out_of_range) << root;
    }
}

}  // namespace
