#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry/RegistryError.h"
#include "registry/RegistryKeys.h"
#include "registry/RegistryValues.h"

namespace {

constexpr char openFailed[] = "Cannot open registry key: RegOpenKeyEx failed.";

std::wstring UniqueKeyName() {
    static int counter = 0;
    return L"OstrelRegistryReadTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

// A key of the test's own under HKCU\Software, removed with everything below it.
class ScratchKey {
public:
    ScratchKey() : name_(UniqueKeyName()) {
        const LONG result = ::RegCreateKeyExW(HKEY_CURRENT_USER, SubkeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                              nullptr, key_.Put(), nullptr);
        if (result != ERROR_SUCCESS) throw std::runtime_error("cannot create the test key: " + std::to_string(result));
    }
    ~ScratchKey() {
        key_.Reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, SubkeyPath().c_str());
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    HKEY get() const { return key_.Get(); }
    std::wstring SubkeyPath() const { return L"Software\\" + name_; }
    std::wstring FullPath() const { return L"hkey_current_user\\software\\" + name_; }

    void AddSubkey(const std::wstring& subkey) const {
        win32::ScopedKey created;
        Check(::RegCreateKeyExW(key_.Get(), subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.Put(),
                                nullptr));
    }
    void SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
        Check(::RegSetValueExW(key_.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
    }
    // Stores the text with its terminating null, as programs normally do.
    void SetText(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) const {
        SetRaw(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void SetDword(const std::wstring& name, DWORD value) const { SetRaw(name, REG_DWORD, &value, sizeof(value)); }
    void SetQword(const std::wstring& name, std::uint64_t value) const {
        SetRaw(name, REG_QWORD, &value, sizeof(value));
    }
    // The key opened again with only the given rights.
    win32::ScopedKey OpenWith(REGSAM access) const { return win32::OpenKeyForRead(FullPath(), access); }

private:
    static void Check(LONG result) {
        if (result != ERROR_SUCCESS) throw std::runtime_error("cannot prepare the test key: " + std::to_string(result));
    }

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

TEST(RegistryOpenKeyForRead, OpensAFullPathWrittenInAnyCase) {
    ScratchKey scratch;
    scratch.SetDword(L"marker", 0x5eed);
    for (const std::wstring& path : {scratch.FullPath(), L"HKEY_CURRENT_USER\\" + scratch.SubkeyPath()}) {
        const win32::ScopedKey key = win32::OpenKeyForRead(path, KEY_READ);
        ASSERT_TRUE(key) << path;
        EXPECT_EQ(win32::ReadRegistryDword(key.Get(), L"marker"), 0x5eedu);
    }
}

TEST(RegistryOpenKeyForRead, OpensBelowAnOpenKeyOrTheKeyItself) {
    ScratchKey scratch;
    scratch.AddSubkey(L"Product");
    const win32::ScopedKey product = win32::OpenKeyForRead(scratch.get(), L"product", KEY_READ);
    EXPECT_TRUE(product);
    const win32::ScopedKey same = win32::OpenKeyForRead(scratch.get(), L"", KEY_READ);
    ASSERT_TRUE(same);
    EXPECT_EQ(win32::EnumerateSubkeys(same.Get()), std::vector<std::wstring>{L"product"});
}

TEST(RegistryOpenKeyForRead, MissingKeyThrowsWithTheResultOfTheOpen) {
    ScratchKey scratch;
    ExpectRegistryError([&] { win32::OpenKeyForRead(scratch.FullPath() + L"\\missing", KEY_READ); }, openFailed,
                        ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::OpenKeyForRead(scratch.get(), L"missing", KEY_READ); }, openFailed,
                        ERROR_FILE_NOT_FOUND);
}

TEST(RegistryOpenKeyForRead, PathNotBeginningWithAFullHiveNameNamesNoKey) {
    for (const wchar_t* path : {L"hkcu\\software", L"software\\microsoft", L"", L"hkey_nowhere"}) {
        ExpectRegistryError([&] { win32::OpenKeyForRead(path, KEY_READ); }, openFailed, ERROR_FILE_NOT_FOUND);
    }
}

TEST(RegistryOpenKeyForRead, BareHiveNameOpensTheHiveItself) {
    const win32::ScopedKey hive = win32::OpenKeyForRead(L"hkey_current_user", KEY_READ);
    ASSERT_TRUE(hive);
    const std::vector<std::wstring> names = win32::EnumerateSubkeys(hive.Get());
    EXPECT_NE(std::find(names.begin(), names.end(), L"software"), names.end());
}

TEST(RegistryEnumerateSubkeys, ListsEveryDirectSubkeyInLowerCase) {
    ScratchKey scratch;
    for (const wchar_t* name : {L"Alpha", L"BETA", L"gamma", L"\u00c4pfel", L"Alpha\\Deeper"}) scratch.AddSubkey(name);
    EXPECT_EQ(Sorted(win32::EnumerateSubkeys(scratch.get())),
              Sorted({L"alpha", L"beta", L"gamma", L"\u00e4pfel"}));
}

TEST(RegistryEnumerateSubkeys, KeyWithoutSubkeysListsNothing) {
    ScratchKey scratch;
    scratch.SetDword(L"value", 1);
    EXPECT_TRUE(win32::EnumerateSubkeys(scratch.get()).empty());
}

TEST(RegistryEnumerateSubkeys, ListsManySubkeysAndTheLongestNames) {
    ScratchKey scratch;
    std::vector<std::wstring> expected;
    for (int index = 0; index < 300; ++index) {
        expected.push_back(L"vendor" + std::to_wstring(index));
        scratch.AddSubkey(expected.back());
    }
    const std::wstring longest(255, L'L');
    scratch.AddSubkey(longest);
    expected.push_back(std::wstring(255, L'l'));
    EXPECT_EQ(Sorted(win32::EnumerateSubkeys(scratch.get())), Sorted(expected));
}

TEST(RegistryEnumerateSubkeys, FailuresCarryTheStepAndItsResult) {
    ScratchKey scratch;
    scratch.AddSubkey(L"child");
    // Wine does not check the query right of RegQueryInfoKey; no key fails everywhere.
    ExpectRegistryError([] { win32::EnumerateSubkeys(nullptr); },
                        "RegQueryInfoKey failed while preparing for subkey enumeration.", ERROR_INVALID_HANDLE);
    const win32::ScopedKey cannotEnumerate = scratch.OpenWith(KEY_QUERY_VALUE);
    ExpectRegistryError([&] { win32::EnumerateSubkeys(cannotEnumerate.Get()); },
                        "Cannot enumerate subkeys: RegEnumKeyEx failed.", ERROR_ACCESS_DENIED);
}

TEST(RegistryValueExists, ValueOfAnyTypeExistsAndReportsItsType) {
    ScratchKey scratch;
    const BYTE bytes[] = {1, 2, 3};
    scratch.SetText(L"text", L"abc");
    scratch.SetText(L"expandable", L"%TEMP%", REG_EXPAND_SZ);
    scratch.SetRaw(L"list", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
    scratch.SetDword(L"dword", 7);
    scratch.SetQword(L"qword", 7);
    scratch.SetRaw(L"binary", REG_BINARY, bytes, sizeof(bytes));
    scratch.SetRaw(L"none", REG_NONE, nullptr, 0);
    scratch.SetText(L"", L"default");
    const std::pair<const wchar_t*, DWORD> values[] = {{L"text", REG_SZ},     {L"expandable", REG_EXPAND_SZ},
                                                       {L"list", REG_MULTI_SZ}, {L"dword", REG_DWORD},
                                                       {L"qword", REG_QWORD}, {L"binary", REG_BINARY},
                                                       {L"none", REG_NONE},   {L"", REG_SZ}};
    for (const auto& [name, type] : values) {
        EXPECT_TRUE(win32::RegistryValueExists(scratch.get(), name)) << name;
        EXPECT_EQ(win32::QueryRegistryValueType(scratch.get(), name), type) << name;
    }
    // Value names, like key names, do not depend on letter case.
    EXPECT_TRUE(win32::RegistryValueExists(scratch.get(), L"TEXT"));
}

TEST(RegistryValueExists, MissingValueOrUnqueryableKeyIsNotThere) {
    ScratchKey scratch;
    scratch.SetText(L"text", L"abc");
    EXPECT_FALSE(win32::RegistryValueExists(scratch.get(), L"missing"));
    EXPECT_FALSE(win32::RegistryValueExists(scratch.get(), L""));
    EXPECT_EQ(win32::QueryRegistryValueType(scratch.get(), L"missing"), static_cast<DWORD>(REG_NONE));

    const win32::ScopedKey cannotQuery = scratch.OpenWith(KEY_ENUMERATE_SUB_KEYS);
    EXPECT_FALSE(win32::RegistryValueExists(cannotQuery.Get(), L"text"));
    EXPECT_EQ(win32::QueryRegistryValueType(cannotQuery.Get(), L"text"), static_cast<DWORD>(REG_NONE));
}

TEST(RegistryReadString, ReadsTheKeyItselfASubkeyOrTheDefaultValue) {
    ScratchKey scratch;
    scratch.AddSubkey(L"Product");
    scratch.SetText(L"version", L"Version 2.0 \u00e9");
    scratch.SetText(L"", L"\"C:\\Program Files\\App\\app.exe\"");
    const win32::ScopedKey product = win32::OpenKeyForRead(scratch.get(), L"product", KEY_ALL_ACCESS);
    ASSERT_EQ(::RegSetValueExW(product.Get(), L"name", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"inner"),
                               6 * sizeof(wchar_t)),
              ERROR_SUCCESS);

    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"version"), L"Version 2.0 \u00e9");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L""), L"\"C:\\Program Files\\App\\app.exe\"");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"Product", L"name"), L"inner");
}

TEST(RegistryReadString, ReadsEmptyAndLongTexts) {
    ScratchKey scratch;
    std::wstring longText;
    for (int index = 0; longText.size() < 20000; ++index) longText += std::to_wstring(index) + L";";
    scratch.SetText(L"empty", L"");
    scratch.SetText(L"long", longText);
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"empty"), L"");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"long"), longText);
}

TEST(RegistryReadString, TextEndsAtItsFirstNullWhateverWasStored) {
    ScratchKey scratch;
    scratch.SetRaw(L"unterminated", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    scratch.SetRaw(L"embedded", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
    scratch.SetRaw(L"nothing", REG_SZ, nullptr, 0);
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"unterminated"), L"abc");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"embedded"), L"ab");
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"nothing"), L"");
}

TEST(RegistryReadString, ExpandableTextComesBackExpanded) {
    ScratchKey scratch;
    ASSERT_TRUE(::SetEnvironmentVariableW(L"OSTREL_REGISTRY_TEST", L"C:\\Expanded"));
    scratch.SetText(L"path", L"%OSTREL_REGISTRY_TEST%\\app.exe", REG_EXPAND_SZ);
    EXPECT_EQ(win32::ReadRegistryString(scratch.get(), L"", L"path"), L"C:\\Expanded\\app.exe");
    ::SetEnvironmentVariableW(L"OSTREL_REGISTRY_TEST", nullptr);
}

TEST(RegistryReadString, FailuresThrowWithTheResultOfTheRead) {
    ScratchKey scratch;
    scratch.SetDword(L"number", 5);
    scratch.SetRaw(L"list", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
    const char message[] = "Cannot read string from registry";
    ExpectRegistryError([&] { win32::ReadRegistryString(scratch.get(), L"", L"missing"); }, message,
                        ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryString(scratch.get(), L"missing", L"number"); }, message,
                        ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryString(scratch.get(), L"", L"number"); }, message,
                        ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryString(scratch.get(), L"", L"list"); }, message,
                        ERROR_UNSUPPORTED_TYPE);
}

TEST(RegistryReadNumbers, ReadStoredDwordsAndQwords) {
    ScratchKey scratch;
    const DWORD dwords[] = {0, 5, 0xFFFFFFFFu};
    const std::uint64_t qwords[] = {0, 5, 0x100000005ull, 0xFFFFFFFFFFFFFFFFull};
    for (DWORD value : dwords) {
        scratch.SetDword(L"dword", value);
        EXPECT_EQ(win32::ReadRegistryDword(scratch.get(), L"dword"), value);
    }
    for (std::uint64_t value : qwords) {
        scratch.SetQword(L"qword", value);
        EXPECT_EQ(win32::ReadRegistryQword(scratch.get(), L"qword"), value);
    }
}

TEST(RegistryReadNumbers, FailuresThrowWithTheirOwnMessageAndResult) {
    ScratchKey scratch;
    scratch.SetDword(L"dword", 5);
    scratch.SetQword(L"qword", 5);
    scratch.SetText(L"text", L"5");
    const char dwordFailed[] = "Cannot read DWORD from registry.";
    const char qwordFailed[] = "Cannot read QWORD from registry.";
    ExpectRegistryError([&] { win32::ReadRegistryDword(scratch.get(), L"missing"); }, dwordFailed,
                        ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryDword(scratch.get(), L"qword"); }, dwordFailed,
                        ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryDword(scratch.get(), L"text"); }, dwordFailed,
                        ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryQword(scratch.get(), L"missing"); }, qwordFailed,
                        ERROR_FILE_NOT_FOUND);
    ExpectRegistryError([&] { win32::ReadRegistryQword(scratch.get(), L"dword"); }, qwordFailed,
                        ERROR_UNSUPPORTED_TYPE);
    ExpectRegistryError([&] { win32::ReadRegistryQword(scratch.get(), L"text"); }, qwordFailed,
                        ERROR_UNSUPPORTED_TYPE);
}

}  // namespace
