// Required and excluded applications: registrations under App Paths of the
// test's own, in both roots and both views, whose path names a file that
// exists or one that does not.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "registry/RegistryView.h"
#include "core/TextConversion.h"
#include "tests/eligibility/EligibilityTestSupport.h"
#include "tests/support/ImportHook.h"

namespace {

using nlohmann::json;
using ostrel::testing::AppRegistration;
using ostrel::testing::EligibilityTest;
using ostrel::testing::ImportProbe;
using ostrel::testing::Narrow;
using ostrel::testing::ScratchFolder;
using ostrel::testing::UniqueName;

constexpr char kIncludeNotFound[] = "REGISTRY INCLUDE APP NOT FOUND";
constexpr char kExcludeFound[] = "REGISTRY EXCLUDE APP FOUND";

// Application names are written in lower case, as the index holds them.
std::wstring AppName() {
    std::wstring name = UniqueName(L"ostrel-elig-app") + L".exe";
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
    return name;
}

class EligibilityApplications : public EligibilityTest {
protected:
    // Whether offers see the application as installed, asked both ways,
    // each offer with an engine of its own.
    void ExpectInstalled(const std::wstring& name, bool installed) {
        const std::string app = Narrow(name);
        ExpectOutcomes({
            {{{"iapp", {app}}}, installed ? "" : kIncludeNotFound},
            {{{"eapp", {app}}}, installed ? kExcludeFound : ""},
        });
    }

    ScratchFolder folder;
};

TEST_F(EligibilityApplications, RegisteredWithAnExistingFileInEitherRootAndView) {
    const std::wstring file = folder.File(L"app.exe");
    const std::wstring user = AppName();
    const std::wstring machine64 = AppName();
    const std::wstring machine32 = AppName();
    const AppRegistration inUser(HKEY_CURRENT_USER, 0, user, file);
    const AppRegistration in64(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, machine64, file);
    const AppRegistration in32(HKEY_LOCAL_MACHINE, win32::ThirtyTwoBitViewFlag(), machine32, file);
    for (const std::wstring& name : {user, machine64, machine32}) {
        SCOPED_TRACE(Narrow(name));
        ExpectInstalled(name, true);
    }
    ExpectInstalled(AppName(), false);
}

TEST_F(EligibilityApplications, APathThatDoesNotNameAnExistingFileIsNotInstalled) {
    const std::wstring missingFile = AppName();
    const std::wstring quoted = AppName();
    const std::wstring withoutPath = AppName();
    const std::wstring file = folder.File(L"app.exe");
    const AppRegistration missing(HKEY_CURRENT_USER, 0, missingFile, folder.path() + L"\\absent.exe");
    const AppRegistration inQuotes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, quoted, L"\"" + file + L"\"");
    const AppRegistration noPath(HKEY_LOCAL_MACHINE, win32::ThirtyTwoBitViewFlag(), withoutPath, std::nullopt);
    for (const std::wstring& name : {missingFile, quoted, withoutPath}) {
        SCOPED_TRACE(Narrow(name));
        ExpectInstalled(name, false);
    }
}

TEST_F(EligibilityApplications, AnyRegistrationOfTheNameWithAnExistingFileCounts) {
    const std::wstring name = AppName();
    const AppRegistration missingInMachine(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, name, folder.path() + L"\\absent.exe");
    const AppRegistration presentInUser(HKEY_CURRENT_USER, 0, name, folder.File(L"app.exe"));
    ExpectInstalled(name, true);
}

TEST_F(EligibilityApplications, NamesAreMatchedInLowerCaseOnly) {
    const std::wstring file = folder.File(L"app.exe");
    const std::wstring mixed = UniqueName(L"Ostrel-Elig-App") + L".EXE";
    std::wstring lower = mixed;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    const AppRegistration registered(HKEY_CURRENT_USER, 0, mixed, file);
    ExpectInstalled(lower, true);
    // The registry's own spelling does not help an entry that is not lower case.
    ExpectInstalled(mixed, false);
}

TEST_F(EligibilityApplications, RequiredAreCheckedBeforeExcludedEachInListOrder) {
    const std::wstring file = folder.File(L"app.exe");
    const std::string present = Narrow(AppName());
    const std::string other = Narrow(AppName());
    const AppRegistration registered(HKEY_CURRENT_USER, 0, Utf8ToWide(present), file);
    const AppRegistration registeredToo(HKEY_CURRENT_USER, 0, Utf8ToWide(other), file);
    const std::string absent = Narrow(AppName());
    ExpectOutcomes({
        {{{"iapp", {present, other}}, {"eapp", {absent}}}, ""},
        {{{"iapp", {present, absent}}, {"eapp", {present}}}, kIncludeNotFound},
        {{{"iapp", {present}}, {"eapp", {absent, other}}}, kExcludeFound},
        {{{"iapp", json::array()}, {"eapp", json::array()}}, ""},
    });
}

TEST_F(EligibilityApplications, IndexAndPathsAreReadOncePerEngine) {
    const std::wstring file = folder.File(L"app.exe");
    const std::wstring name = AppName();
    const AppRegistration registered(HKEY_CURRENT_USER, 0, name, file);
    EligibilityEngine engine(100);
    EXPECT_TRUE(engine.IsAppInstalled(name));

    // A registration after the index was built is not seen by this engine.
    const std::wstring late = AppName();
    const AppRegistration lateRegistration(HKEY_CURRENT_USER, 0, late, file);
    EXPECT_FALSE(engine.IsAppInstalled(late));

    // The path is read once; the file is looked at every time.
    registered.SetPath(folder.path() + L"\\absent.exe");
    EXPECT_TRUE(engine.IsAppInstalled(name));
    const std::wstring moved = folder.path() + L"\\moved.exe";
    ASSERT_TRUE(::MoveFileW(file.c_str(), moved.c_str()));
    EXPECT_FALSE(engine.IsAppInstalled(name));
    ASSERT_TRUE(::MoveFileW(moved.c_str(), file.c_str()));
    EXPECT_TRUE(engine.IsAppInstalled(name));

    EligibilityEngine next(100);
    EXPECT_TRUE(next.IsAppInstalled(late));
    EXPECT_FALSE(next.IsAppInstalled(name));
}

// Records the engine's opens of the App Paths key itself, with their view,
// and can make the key look absent.
struct AppPathsOpens {
    static inline std::vector<std::pair<HKEY, REGSAM>> opens;
    static inline bool absent = false;
    static inline decltype(&::RegOpenKeyExW) original = nullptr;

    static LONG WINAPI Call(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result) {
        std::wstring name = subkey ? subkey : L"";
        while (!name.empty() && name.back() == L'\\') name.pop_back();
        if (::lstrcmpiW(name.c_str(), L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths") == 0) {
            opens.emplace_back(key, access & (KEY_WOW64_32KEY | KEY_WOW64_64KEY));
            if (absent) return ERROR_FILE_NOT_FOUND;
        }
        return original(key, subkey, options, access, result);
    }
};

// Wine keeps a single App Paths key for both views, so the views the index
// reads show only in how the engine opens the key.
TEST_F(EligibilityApplications, IndexReadsEveryViewOfTheMachineAndTheUser) {
    AppPathsOpens::opens.clear();
    AppPathsOpens::absent = false;
    const ImportProbe<AppPathsOpens> hook("advapi32.dll", "RegOpenKeyExW");
    EligibilityEngine engine(100);
    EXPECT_FALSE(engine.IsAppInstalled(AppName()));
    std::vector<std::pair<HKEY, REGSAM>> expected;
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        // The 32-bit view first, the way the 32-bit release build sees it by default.
        expected.emplace_back(root, win32::ThirtyTwoBitViewFlag());
        if (win32::IsWow64()) expected.emplace_back(root, KEY_WOW64_64KEY);
    }
    EXPECT_EQ(AppPathsOpens::opens, expected);
}

TEST_F(EligibilityApplications, WithoutAnyRegistrationTheIndexIsReadAgainAtEveryTest) {
    const std::wstring name = AppName();
    const AppRegistration registered(HKEY_CURRENT_USER, 0, name, folder.File(L"app.exe"));
    AppPathsOpens::opens.clear();
    AppPathsOpens::absent = true;
    const ImportProbe<AppPathsOpens> hook("advapi32.dll", "RegOpenKeyExW");
    EligibilityEngine engine(100);
    EXPECT_FALSE(engine.IsAppInstalled(name));
    const std::size_t onePass = AppPathsOpens::opens.size();
    EXPECT_EQ(onePass, win32::IsWow64() ? 4u : 2u);
    const auto required = Offer({{"iapp", {Narrow(name)}}});
    bool limitReached = false;
    EXPECT_FALSE(engine.Evaluate(required, limitReached));
    EXPECT_EQ(AppPathsOpens::opens.size(), 2 * onePass);
    ExpectReasons({{required, kIncludeNotFound}});
}

}  // namespace
