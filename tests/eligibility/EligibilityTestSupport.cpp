#include "tests/eligibility/EligibilityTestSupport.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

#include "registry/RegistryView.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"
#include "tests/common/TestSupport.h"

namespace ostrel::testing {
namespace {

using nlohmann::json;

constexpr wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

void Check(LONG result, const char* what) {
    if (result != ERROR_SUCCESS) {
        throw std::runtime_error(std::string("cannot prepare the test: ") + what + " failed with " +
                                 std::to_string(result));
    }
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// App Paths keys this process created, removed again once their last
// registration is gone.
std::mutex createdAppPathsMutex;
std::set<std::pair<HKEY, REGSAM>> createdAppPaths;

}  // namespace

const Place machine64{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"hkey_local_machine\\software\\"};
const Place machine32{HKEY_LOCAL_MACHINE, win32::ThirtyTwoBitViewFlag(),
                      L"hkey_local_machine\\software\\wow6432node\\"};
const Place user{HKEY_CURRENT_USER, KEY_WOW64_64KEY, L"hkey_current_user\\software\\"};

std::wstring EligibilityServerAddress() {
    wchar_t address[64] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_SERVER", address, 64);
    return length > 0 && length < 64 ? std::wstring(address, length) : std::wstring(L"127.0.0.5");
}

std::wstring UniqueName(const std::wstring& stem) {
    static std::atomic<int> count{0};
    // The tick count keeps a name from a crashed earlier run with the same
    // process id from being taken for this run's.
    return stem + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(::GetTickCount64() % 100000) + L"-" + std::to_wstring(++count);
}

std::string Narrow(const std::wstring& text) {
    return WideToUtf8(text);
}

void EligibilityTest::SetUp() {
    ASSERT_TRUE(server.Reset()) << "reference server on " << Narrow(server.Address()) << " not reachable";
    ConfigurationManager::GetInstance()->eventsUrl = server.Url(L"/zbd");
    eventTemplate = BuildEventTemplate();
}

void EligibilityTest::TearDown() {
    // No event of this test may still be on its way when the next one resets the server.
    for (const auto& offer : madeOffers) offer->WaitForEvents();
    madeOffers.clear();
}

std::shared_ptr<Package> EligibilityTest::Offer(const json& requirements) {
    const int number = ++nextOffer;
    json ps = {{"i", "img/offer.png"}, {"dn", "Offer " + std::to_string(number)}, {"u", "dl/offer.exe"}};
    // Every offer has a category of its own unless the test says otherwise.
    ps["v"] = 1000 + number;
    for (const auto& [key, value] : requirements.items()) {
        if (value.is_null()) {
            ps.erase(key);
        } else {
            ps[key] = value;
        }
    }
    const json offer = {{"ad", {{"f", "tag-" + std::to_string(number)}, {"o", "offer-" + std::to_string(number)}}},
                        {"ps", ps}};
    auto package = std::make_shared<Package>(eventTemplate, offer, false, "", 0);
    madeOffers.push_back(package);
    return package;
}

std::vector<bool> EligibilityTest::EvaluateAll(EligibilityEngine& engine,
                                               const std::vector<std::shared_ptr<Package>>& offers,
                                               bool* limitReached) {
    std::vector<bool> results;
    bool limit = limitReached ? *limitReached : false;
    for (const auto& offer : offers) results.push_back(engine.Evaluate(offer, limit));
    if (limitReached) *limitReached = limit;
    return results;
}

bool EligibilityTest::EvaluateAlone(const std::shared_ptr<Package>& offer, int maxOffers) {
    EligibilityEngine engine(maxOffers);
    bool limitReached = false;
    const bool accepted = engine.Evaluate(offer, limitReached);
    EXPECT_FALSE(limitReached);
    return accepted;
}

std::map<std::string, std::vector<std::string>> EligibilityTest::StoredReasons() {
    for (const auto& offer : madeOffers) offer->WaitForEvents();
    std::map<std::string, std::vector<std::string>> reasons;
    const json stored = server.Events();
    EXPECT_TRUE(stored.is_array()) << "events not readable from the server";
    if (!stored.is_array()) return reasons;
    for (const json& event : stored) {
        const json data = TestServer::EventData(event);
        std::string reason = data.value("13", json()).is_string() ? data.at("13").get<std::string>() : "(no reason)";
        // Anything but a rejection shows up as its type, so it cannot pass for one.
        if (data.value("6", json()) != "2") reason = "event type " + data.value("6", json()).dump() + ": " + reason;
        reasons[data.value("5", std::string("(no offer code)"))].push_back(reason);
    }
    return reasons;
}

void EligibilityTest::ExpectReasons(const std::vector<std::pair<std::shared_ptr<Package>, std::string>>& expected) {
    std::map<std::string, std::vector<std::string>> reasons = StoredReasons();
    for (const auto& [offer, reason] : expected) {
        const std::vector<std::string> none;
        const auto found = reasons.find(offer->OfferCode());
        const std::vector<std::string>& got = found == reasons.end() ? none : found->second;
        if (reason.empty()) {
            EXPECT_TRUE(got.empty()) << offer->OfferCode()
                                     << " should send no event, yet reported: " << ::testing::PrintToString(got);
        } else {
            EXPECT_EQ(got, std::vector<std::string>{reason}) << offer->OfferCode();
        }
        if (found != reasons.end()) reasons.erase(found);
        checkedOffers.insert(offer->OfferCode());
    }
    for (const std::string& code : checkedOffers) reasons.erase(code);
    EXPECT_TRUE(reasons.empty()) << "events of offers the test did not expect: " << ::testing::PrintToString(reasons);
}

void EligibilityTest::ExpectOutcomes(const std::vector<Case>& cases) {
    std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
    for (const Case& c : cases) {
        const auto offer = Offer(c.requirements);
        EXPECT_EQ(EvaluateAlone(offer), c.reason.empty()) << c.requirements.dump();
        expected.emplace_back(offer, c.reason);
    }
    ExpectReasons(expected);
}

ScratchKey::ScratchKey(HKEY hive, REGSAM viewFlag, std::wstring parent, std::wstring name)
    : hive_(hive), viewFlag_(viewFlag), parent_(std::move(parent)), name_(std::move(name)) {
    const std::wstring path = parent_.empty() ? name_ : parent_ + L"\\" + name_;
    Check(
        ::RegCreateKeyExW(hive_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | viewFlag_, nullptr, key_.Put(), nullptr),
        "RegCreateKeyEx");
}

ScratchKey::ScratchKey(const Place& place, std::wstring name)
    : ScratchKey(place.hive, place.viewFlag, L"Software", std::move(name)) {
}

ScratchKey::~ScratchKey() {
    key_.Reset();
    win32::ScopedKey parent;
    if (::RegOpenKeyExW(hive_, parent_.c_str(), 0, KEY_ALL_ACCESS | viewFlag_, parent.Put()) == ERROR_SUCCESS) {
        ::RegDeleteTreeW(parent.Get(), name_.c_str());
    }
}

void ScratchKey::AddSubkey(const std::wstring& below) const {
    win32::ScopedKey created;
    Check(::RegCreateKeyExW(get(), below.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.Put(), nullptr),
          "RegCreateKeyEx");
}

void ScratchKey::Set(const std::wstring& below, const std::wstring& name, DWORD type, const void* data,
                     std::size_t size) const {
    if (!below.empty()) AddSubkey(below);
    Check(::RegSetKeyValueW(get(), below.empty() ? nullptr : below.c_str(), name.c_str(), type, data,
                            static_cast<DWORD>(size)),
          "RegSetKeyValue");
}

void ScratchKey::SetText(const std::wstring& below, const std::wstring& name, const std::wstring& text,
                         DWORD type) const {
    Set(below, name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void ScratchKey::SetDword(const std::wstring& below, const std::wstring& name, std::uint32_t value) const {
    Set(below, name, REG_DWORD, &value, sizeof(value));
}

void ScratchKey::SetQword(const std::wstring& below, const std::wstring& name, std::uint64_t value) const {
    Set(below, name, REG_QWORD, &value, sizeof(value));
}

AppRegistration::AppRegistration(HKEY root, REGSAM viewFlag, const std::wstring& name,
                                 const std::optional<std::wstring>& path)
    : root_(root), viewFlag_(viewFlag), name_(name) {
    win32::ScopedKey appPaths;
    DWORD disposition = 0;
    Check(::RegCreateKeyExW(root_, kAppPaths, 0, nullptr, 0, KEY_ALL_ACCESS | viewFlag_, nullptr, appPaths.Put(),
                            &disposition),
          "RegCreateKeyEx (App Paths)");
    if (disposition == REG_CREATED_NEW_KEY) {
        std::lock_guard lock(createdAppPathsMutex);
        createdAppPaths.emplace(root_, viewFlag_);
    }
    win32::ScopedKey app;
    Check(::RegCreateKeyExW(appPaths.Get(), name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, app.Put(), nullptr),
          "RegCreateKeyEx (application)");
    if (path) SetPath(*path);
}

AppRegistration::~AppRegistration() {
    win32::ScopedKey appPaths;
    if (::RegOpenKeyExW(root_, kAppPaths, 0, KEY_ALL_ACCESS | viewFlag_, appPaths.Put()) == ERROR_SUCCESS) {
        ::RegDeleteTreeW(appPaths.Get(), name_.c_str());
    }
    appPaths.Reset();
    std::lock_guard lock(createdAppPathsMutex);
    // Fails while other registrations of this process are still below it.
    if (createdAppPaths.count({root_, viewFlag_}) != 0 &&
        ::RegDeleteKeyExW(root_, kAppPaths, viewFlag_, 0) == ERROR_SUCCESS) {
        createdAppPaths.erase({root_, viewFlag_});
    }
}

void AppRegistration::SetPath(const std::wstring& path) const {
    const std::wstring key = std::wstring(kAppPaths) + L"\\" + name_;
    win32::ScopedKey app;
    Check(::RegOpenKeyExW(root_, key.c_str(), 0, KEY_ALL_ACCESS | viewFlag_, app.Put()), "RegOpenKeyEx (application)");
    Check(::RegSetValueExW(app.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
          "RegSetValueEx (application path)");
}

ScratchFolder::ScratchFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
    path_ = std::wstring(temp, length) + UniqueName(L"ostrel-elig");
    if (!::CreateDirectoryW(path_.c_str(), nullptr)) throw std::runtime_error("cannot create the scratch folder");
}

ScratchFolder::~ScratchFolder() {
    RemoveDirectoryTree(path_);
}

std::wstring ScratchFolder::File(const std::wstring& name) const {
    const std::wstring file = path_ + L"\\" + name;
    const HANDLE handle =
        ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a scratch file");
    ::CloseHandle(handle);
    return file;
}

RunningProgram::RunningProgram(const ScratchFolder& folder, const std::wstring& fileName)
    : path_(folder.path() + L"\\" + fileName) {
    const std::wstring standIn = ProgramFolder() + L"\\ostrel_eligibility_helper.exe";
    if (!::CopyFileW(standIn.c_str(), path_.c_str(), FALSE))
        throw std::runtime_error("cannot copy the stand-in program");
    // Set by the stand-in once it runs, so it is never ended while starting.
    const std::wstring readyName = L"Local\\" + UniqueName(L"ostrel-elig-ready");
    const HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    if (!ready) throw std::runtime_error("cannot create the stand-in's event");
    // The stand-in also ends by itself when this process ends first.
    std::wstring commandLine = L"\"" + path_ + L"\" " + std::to_wstring(::GetCurrentProcessId()) + L" " + readyName;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(path_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process_)) {
        ::CloseHandle(ready);
        ::DeleteFileW(path_.c_str());
        throw std::runtime_error("cannot start the stand-in program");
    }
    const HANDLE waitFor[] = {ready, process_.hProcess};
    const DWORD started = ::WaitForMultipleObjects(2, waitFor, FALSE, 10000);
    ::CloseHandle(ready);
    const std::wstring listed = Lower(fileName);
    const std::vector<std::wstring> names =
        started == WAIT_OBJECT_0 ? RunningProcessNames() : std::vector<std::wstring>();
    if (std::find(names.begin(), names.end(), listed) != names.end()) return;
    ::TerminateProcess(process_.hProcess, 1);
    ::WaitForSingleObject(process_.hProcess, 5000);
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
    ::DeleteFileW(path_.c_str());
    throw std::runtime_error("the stand-in program did not start or is not listed as running");
}

RunningProgram::~RunningProgram() {
    ::TerminateProcess(process_.hProcess, 0);
    ::WaitForSingleObject(process_.hProcess, 10000);
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
    // The image may stay mapped for a moment after the process ended.
    for (int attempt = 0; attempt < 100 && !::DeleteFileW(path_.c_str()); ++attempt) ::Sleep(20);
}

std::vector<std::wstring> RunningProcessNames() {
    std::vector<std::wstring> names;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return names;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        names.push_back(Lower(entry.szExeFile));
    }
    ::CloseHandle(snapshot);
    return names;
}

}  // namespace ostrel::testing
