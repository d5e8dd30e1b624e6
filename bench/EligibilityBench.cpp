// Times the eligibility engine on configurations of many offers, each naming
// 5 keys, 5 values, 3 value data, 2 required and 2 excluded applications,
// 3 programs and 3 files, nearly all of them absent from the machine (the
// usual case: offers guard against products the user does not have).
//
//   ostrel_eligibility_bench.exe [offers ...]     (default: 250 500 1000)
//
// For each count it builds the offers, evaluates them with one engine and
// prints the time per offer, and how often the engine opened each hive's
// Software key in each view to list it. Rejection events go to an address
// nobody listens on (https://127.0.0.99/zbd): they are sent, on threads of
// their own, but never delivered. Exits with 1 when a listing was repeated
// within one engine or an offer took more than 5 ms on average.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/EventTemplate.h"
#include "packages/EligibilityEngine.h"
#include "packages/Package.h"
#include "registry/RegistryView.h"
#include "registry/ScopedKey.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"
#include "tests/support/ImportHook.h"

namespace {

using nlohmann::json;

constexpr double kTargetMsPerOffer = 5.0;
constexpr wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// Counts the opens of a hive's Software key, per hive and view: the engine
// opens it only to list its vendors.
struct SoftwareOpens {
    static inline std::map<std::pair<HKEY, REGSAM>, int> counts;
    static inline decltype(&::RegOpenKeyExW) original = nullptr;

    static LONG WINAPI Call(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result) {
        if (subkey && ::lstrcmpiW(subkey, L"software") == 0) {
            ++counts[{key, access & (KEY_WOW64_32KEY | KEY_WOW64_64KEY)}];
        }
        return original(key, subkey, options, access, result);
    }
};

std::string PlaceName(HKEY hive, REGSAM view) {
    std::string name = hive == HKEY_LOCAL_MACHINE ? "HKLM" : hive == HKEY_CURRENT_USER ? "HKCU" : "other hive";
    if (view == KEY_WOW64_64KEY) return name + " 64-bit view";
    if (view == KEY_WOW64_32KEY) return name + " 32-bit view";
    return name + " default view";
}

// Registry entries the offers find: one vendor and two registered
// applications, all removed again at the end.
class Fixtures {
public:
    Fixtures() {
        const std::wstring suffix = std::to_wstring(::GetCurrentProcessId());
        vendor_ = L"OstrelBench-" + suffix;
        win32::ScopedKey key;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\" + vendor_ + L"\\Product").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) == ERROR_SUCCESS) {
            const wchar_t version[] = L"1";
            ::RegSetValueExW(key.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
        }
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        DWORD disposition = 0;
        win32::ScopedKey appPaths;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kAppPaths, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, appPaths.Put(),
                              &disposition) != ERROR_SUCCESS) {
            return;
        }
        createdAppPaths_ = disposition == REG_CREATED_NEW_KEY;
        for (const wchar_t* letter : {L"a", L"b"}) {
            const std::wstring app = L"ostrel-bench-" + suffix + L"-" + letter + L".exe";
            ::RegSetKeyValueW(appPaths.Get(), app.c_str(), nullptr, REG_SZ, self,
                              static_cast<DWORD>((wcslen(self) + 1) * sizeof(wchar_t)));
            apps_.push_back(app);
        }
    }
    Fixtures(const Fixtures&) = delete;
    Fixtures& operator=(const Fixtures&) = delete;
    ~Fixtures() {
        win32::ScopedKey software;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_ALL_ACCESS, software.Put()) == ERROR_SUCCESS) {
            ::RegDeleteTreeW(software.Get(), vendor_.c_str());
        }
        win32::ScopedKey appPaths;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, kAppPaths, 0, KEY_ALL_ACCESS, appPaths.Put()) == ERROR_SUCCESS) {
            for (const std::wstring& app : apps_) ::RegDeleteTreeW(appPaths.Get(), app.c_str());
        }
        appPaths.Reset();
        if (createdAppPaths_) ::RegDeleteKeyW(HKEY_CURRENT_USER, kAppPaths);
    }

    std::string Vendor() const { return WideToUtf8(vendor_); }
    std::string App(std::size_t index) const { return WideToUtf8(apps_.at(index)); }

private:
    std::wstring vendor_;
    std::vector<std::wstring> apps_;
    bool createdAppPaths_ = false;
};

// Offer `index` of a run; every 20th names the vendor that exists and is
// rejected, every 10th and every 5th open it without being rejected.
json OfferJson(int run, int index, const Fixtures& fixtures) {
    const std::string absent = "OstrelBenchAbsent-" + std::to_string(run) + "-" + std::to_string(index) + "-";
    json r = json::array();
    json rvn = json::array();
    json rvd = json::array();
    json a = json::array();
    json fe = json::array();
    for (int k = 0; k < 4; ++k) r.push_back(absent + std::to_string(k) + "\\Product");
    r.push_back(index % 20 == 19 ? fixtures.Vendor() : "hklm\\software\\" + absent + "4");
    for (int k = 0; k < 5; ++k) rvn.push_back(absent + std::to_string(k) + "\\Product\\InstallDir");
    if (index % 10 == 9) rvn[4] = fixtures.Vendor() + "\\Product\\InstallDir";
    for (int k = 0; k < 3; ++k) rvd.push_back(absent + std::to_string(k) + "\\Product\\Version\\2");
    if (index % 5 == 4) rvd[2] = fixtures.Vendor() + "\\Product\\Version\\2";
    for (int k = 0; k < 3; ++k) {
        a.push_back(absent + std::to_string(k) + ".exe");
        fe.push_back("{localappdata}\\" + absent + std::to_string(k) + "\\app.exe");
    }
    const json ps = {{"i", "img/offer.png"},
                     {"dn", "Offer " + std::to_string(index)},
                     {"u", "dl/offer.exe"},
                     {"v", index + 1},
                     {"r", r},
                     {"rvn", rvn},
                     {"rvd", rvd},
                     {"iapp", {fixtures.App(0), fixtures.App(1)}},
                     {"eapp", {absent + "a.exe", absent + "b.exe"}},
                     {"a", a},
                     {"fe", fe}};
    return {{"ad", {{"f", "bench"}, {"o", "bench-" + std::to_string(index)}}}, {"ps", ps}};
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    static const double frequency = [] {
        LARGE_INTEGER value;
        ::QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / frequency;
}

struct RunResult {
    int offers = 0;
    double totalMs = 0;
    double firstMs = 0;
    int accepted = 0;
    std::size_t listings = 0;
    std::size_t keyOpens = 0;
    int mostListingsOfOnePlace = 0;
    std::map<std::pair<HKEY, REGSAM>, int> perPlace;
};

RunResult Run(int run, int count, const Fixtures& fixtures, std::vector<std::shared_ptr<Package>>& keep) {
    const EventTemplate eventTemplate = BuildEventTemplate();
    std::vector<std::shared_ptr<Package>> offers;
    offers.reserve(count);
    for (int index = 0; index < count; ++index) {
        offers.push_back(std::make_shared<Package>(eventTemplate, OfferJson(run, index, fixtures), false, "", 0));
    }
    SoftwareOpens::counts.clear();
    RunResult result;
    result.offers = count;
    EligibilityEngine engine(1 << 30);
    bool limitReached = false;
    LARGE_INTEGER start, afterFirst, end;
    ::QueryPerformanceCounter(&start);
    afterFirst = start;
    for (int index = 0; index < count; ++index) {
        if (engine.Evaluate(offers[index], limitReached)) ++result.accepted;
        if (index == 0) ::QueryPerformanceCounter(&afterFirst);
    }
    ::QueryPerformanceCounter(&end);
    result.totalMs = Milliseconds(start, end);
    result.firstMs = Milliseconds(start, afterFirst);
    result.listings = engine.KeyCache().statistics().listings;
    result.keyOpens = engine.KeyCache().statistics().keyOpens;
    result.perPlace = SoftwareOpens::counts;
    for (const auto& [place, opens] : result.perPlace)
        result.mostListingsOfOnePlace = std::max(result.mostListingsOfOnePlace, opens);
    // Released at the very end, so the undeliverable events of all runs wait together.
    keep.insert(keep.end(), offers.begin(), offers.end());
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(static_cast<int>(std::wcstol(argv[i], nullptr, 10)));
    if (counts.empty()) counts = {250, 500, 1000};
    if (std::any_of(counts.begin(), counts.end(), [](int count) { return count < 1; })) {
        std::fprintf(stderr, "usage: ostrel_eligibility_bench.exe [offers ...] (each at least 1)\n");
        return 2;
    }
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto settings = ConfigurationManager::GetInstance();
    settings->eventsUrl = L"https://127.0.0.99/zbd";

    int status = 0;
    std::vector<std::shared_ptr<Package>> keep;
    {
        const Fixtures fixtures;
        const ostrel::testing::ImportProbe<SoftwareOpens> hook("advapi32.dll", "RegOpenKeyExW");

        // Not counted: the first evaluations also load the system libraries
        // that event delivery and the registry need.
        Run(static_cast<int>(counts.size()), 50, fixtures, keep);

        std::printf("%8s %10s %10s %12s %9s %9s %9s\n", "offers", "total ms", "ms/offer", "1st offer ms", "accepted",
                    "listings", "key opens");
        std::vector<RunResult> results;
        for (std::size_t run = 0; run < counts.size(); ++run) {
            const RunResult r = Run(static_cast<int>(run), counts[run], fixtures, keep);
            std::printf("%8d %10.1f %10.3f %12.1f %9d %9zu %9zu\n", r.offers, r.totalMs, r.totalMs / r.offers,
                        r.firstMs, r.accepted, r.listings, r.keyOpens);
            std::string places;
            for (const auto& [place, opens] : r.perPlace) {
                places +=
                    (places.empty() ? "" : ", ") + PlaceName(place.first, place.second) + ": " + std::to_string(opens);
            }
            std::printf("         Software listings per hive and view: %s\n", places.empty() ? "none" : places.c_str());
            const std::size_t expectedPlaces = win32::IsWow64() ? 4 : 2;
            if (r.mostListingsOfOnePlace != 1 || r.perPlace.size() != expectedPlaces) {
                std::printf("         expected each of %zu places listed exactly once\n", expectedPlaces);
                status = 1;
            }
            if (r.totalMs / r.offers > kTargetMsPerOffer) {
                std::printf("         above the target of %.1f ms per offer\n", kTargetMsPerOffer);
                status = 1;
            }
            results.push_back(r);
        }
        if (results.size() > 1) {
            const RunResult& small = results.front();
            const RunResult& large = results.back();
            std::printf("cost per offer, %d offers against %d: %.2f (1.00 is linear)\n", large.offers, small.offers,
                        (large.totalMs / large.offers) / (small.totalMs / small.offers));
        }
    }
    std::printf("waiting for the undeliverable rejection events to give up...\n");
    std::fflush(stdout);
    keep.clear();
    if (!settings->workDirectory.empty()) ::RemoveDirectoryW(settings->workDirectory.c_str());
    if (SUCCEEDED(com)) ::CoUninitialize();
    return status;
}
