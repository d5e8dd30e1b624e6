// Paths that name a share or a device, in "fe" entries and App Paths values:
// the elevated wizard never asks the system about them (that alone would
// send the user's network credentials to the named host) and counts them as
// absent. A stand-in for the existence test watches what the engine asks and
// would answer "present" for every such path, so a path that slipped
// through would both show in its record and change the outcome.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "packages/LocalPaths.h"
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

constexpr char kFileExists[] = "FILE EXISTS";
constexpr char kIncludeNotFound[] = "REGISTRY INCLUDE APP NOT FOUND";

struct ExistenceProbe {
    static inline std::vector<std::wstring> asked;
    static inline std::set<std::wstring> present;
    static inline decltype(&::PathFileExistsW) original = nullptr;

    static BOOL WINAPI Call(LPCWSTR path) {
        const std::wstring text = path ? path : L"";
        asked.push_back(text);
        if (present.count(text) != 0) return TRUE;
        return original(path);
    }

    ExistenceProbe() : hook("shlwapi.dll", "PathFileExistsW") {
        asked.clear();
        present.clear();
    }

    ImportProbe<ExistenceProbe> hook;
};

// Every spelling by which the system reaches a share or a device; the local
// file they end in exists, so only the spelling can keep them out.
std::vector<std::wstring> NetworkAndDeviceSpellings(const std::wstring& localFile) {
    const std::wstring host = L"127.0.0.9";
    std::wstring forward = localFile;
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    return {
        L"\\\\" + host + L"\\share\\app.exe",
        L"//" + host + L"/share/app.exe",
        L"\\/" + host + L"\\share\\app.exe",
        L"/\\" + host + L"/share/app.exe",
        L"\\\\" + host,
        L"\\\\" + host + L"\\c$\\windows\\notepad.exe",
        L"\\\\?\\UNC\\" + host + L"\\share\\app.exe",
        L"//?/UNC/" + host + L"/share/app.exe",
        L"\\\\.\\UNC\\" + host + L"\\share\\app.exe",
        L"\\??\\UNC\\" + host + L"\\share\\app.exe",
        L"\\\\?\\" + localFile,
        L"\\\\.\\" + localFile,
        L"//?/" + forward,
        L"//./" + forward,
        L"\\??\\" + localFile,
        L"\\\\.\\pipe\\ostrel",
        L"\\\\.\\PhysicalDrive0",
        L"\\\\?\\GLOBALROOT\\Device\\Mup\\" + host + L"\\share\\app.exe",
        // The system does not read these as shares, but nothing is risked on them.
        L"\"\\\\" + host + L"\\share\\app.exe\"",
        L"  \\\\" + host + L"\\share\\app.exe",
    };
}

class EligibilityNetworkPaths : public EligibilityTest {
protected:
    void SetUp() override {
        EligibilityTest::SetUp();
        for (const std::wstring& path : hostile) ExistenceProbe::present.insert(path);
    }

    // No existence test reached the system for any of the given paths.
    void ExpectNeverAsked(const std::vector<std::wstring>& paths) {
        for (const std::wstring& path : paths) {
            EXPECT_EQ(std::count(ExistenceProbe::asked.begin(), ExistenceProbe::asked.end(), path), 0)
                << Narrow(path) << " was looked up";
        }
    }

    ScratchFolder folder;
    std::wstring localFile = folder.File(L"present.exe");
    std::vector<std::wstring> hostile = NetworkAndDeviceSpellings(localFile);
    ExistenceProbe probe;
};

TEST_F(EligibilityNetworkPaths, SharesAndDevicesInFileEntriesAreAbsentAndNeverLookedUp) {
    std::vector<Case> cases;
    json all = json::array();
    for (const std::wstring& path : hostile) {
        cases.push_back({{{"fe", {Narrow(path)}}}, ""});
        all.push_back(Narrow(path));
    }
    cases.push_back({{{"fe", all}}, ""});
    // Skipping one entry does not end the check: a local file after it still blocks.
    json thenLocal = all;
    thenLocal.push_back(Narrow(localFile));
    cases.push_back({{{"fe", thenLocal}}, kFileExists});
    ExpectOutcomes(cases);
    ExpectNeverAsked(hostile);
    EXPECT_EQ(ExistenceProbe::asked, std::vector<std::wstring>{localFile}) << "only the local file is looked up";
}

TEST_F(EligibilityNetworkPaths, ApplicationsRegisteredOnASharesOrDevicesAreNotInstalled) {
    std::vector<std::string> names;
    std::vector<std::unique_ptr<AppRegistration>> registrations;
    for (const std::wstring& path : hostile) {
        std::wstring name = UniqueName(L"ostrel-elig-app") + L".exe";
        std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
        registrations.push_back(std::make_unique<AppRegistration>(HKEY_CURRENT_USER, 0, name, path));
        names.push_back(Narrow(name));
    }
    std::vector<Case> cases;
    for (const std::string& name : names) {
        cases.push_back({{{"iapp", {name}}}, kIncludeNotFound});
        cases.push_back({{{"eapp", {name}}}, ""});
    }
    ExpectOutcomes(cases);
    ExpectNeverAsked(hostile);
    EXPECT_TRUE(ExistenceProbe::asked.empty()) << Narrow(ExistenceProbe::asked.front());

    // The same registration with the local spelling is installed, through the same stand-in.
    std::wstring local = UniqueName(L"ostrel-elig-app") + L".exe";
    std::transform(local.begin(), local.end(), local.begin(), [](wchar_t c) { return std::towlower(c); });
    const AppRegistration registered(HKEY_CURRENT_USER, 0, local, localFile);
    ExpectOutcomes({{{{"iapp", {Narrow(local)}}}, ""}});
    EXPECT_EQ(ExistenceProbe::asked, std::vector<std::wstring>{localFile});
}

TEST(NetworkPaths, OnlyLocalSpellingsAreLocal) {
    const struct {
        const wchar_t* path;
        bool networkOrDevice;
    } cases[] = {
        {L"\\\\host\\share", true},
        {L"//host/share", true},
        {L"\\/host", true},
        {L"/\\host", true},
        {L"\\\\?\\C:\\x", true},
        {L"\\\\.\\C:", true},
        {L"\\??\\C:\\x", true},
        {L"/?"
         L"?/C:/x",
         true},  // split: "??/" would read as a trigraph
        {L"\"\\\\host\\share\"", true},
        {L"\t\\\\host", true},
        {L"C:\\Program Files\\app.exe", false},
        {L"C:/Program Files/app.exe", false},
        {L"C:\\dir\\\\host\\share", false},
        {L"\\Windows\\notepad.exe", false},
        {L"relative\\app.exe", false},
        {L"\\?\\x", false},
        {L"\\?", false},
        {L"\\", false},
        {L"", false},
        {L"\"C:\\app.exe\"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsNetworkOrDevicePath(c.path), c.networkOrDevice) << Narrow(c.path);
}

}  // namespace
