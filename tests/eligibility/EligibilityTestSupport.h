// What the eligibility tests share: offers built from package JSON, the
// reference server that stores their rejection events, and registry keys,
// files and processes of the test's own that disappear with the test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/EventTemplate.h"
#include "packages/EligibilityEngine.h"
#include "packages/Package.h"
#include "registry/ScopedKey.h"
#include "tests/common/TestServer.h"

namespace ostrel::testing {

// The reference server of these tests: OSTREL_ELIGIBILITY_SERVER, else 127.0.0.5.
std::wstring EligibilityServerAddress();

// A name no other test and no earlier run uses, for keys, files and offers.
std::wstring UniqueName(const std::wstring& stem);
std::string Narrow(const std::wstring& text);

// Evaluates offers one engine at a time and checks what the server stored.
class EligibilityTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // An offer whose "ps" holds the given requirements next to the required keys.
    std::shared_ptr<Package> Offer(const nlohmann::json& requirements = nlohmann::json::object());
    // Evaluates in order with one engine; limitReached as Evaluate leaves it.
    std::vector<bool> EvaluateAll(EligibilityEngine& engine, const std::vector<std::shared_ptr<Package>>& offers,
                                  bool* limitReached = nullptr);
    // Evaluates one offer with an engine of its own.
    bool EvaluateAlone(const std::shared_ptr<Package>& offer, int maxOffers = 100);

    // The reasons the server stored per offer code, once every event has arrived.
    std::map<std::string, std::vector<std::string>> StoredReasons();
    // Expects every offer's events: exactly one rejection with the given
    // reason, or none at all where the reason is empty.
    void ExpectReasons(const std::vector<std::pair<std::shared_ptr<Package>, std::string>>& expected);

    // One offer per case, each with an engine of its own: accepted when the
    // reason is empty, otherwise rejected with exactly that reason.
    struct Case {
        nlohmann::json requirements;
        std::string reason;
    };
    void ExpectOutcomes(const std::vector<Case>& cases);

    TestServer server{EligibilityServerAddress()};
    EventTemplate eventTemplate;
    std::vector<std::shared_ptr<Package>> madeOffers;

private:
    int nextOffer = 0;
    // Offers whose events an earlier check of this test has already looked at.
    std::set<std::string> checkedOffers;
};

// Where a vendor key can live, and how an offer names that place in full.
struct Place {
    HKEY hive;
    REGSAM viewFlag;
    const wchar_t* root;
};
extern const Place machine64;
extern const Place machine32;
extern const Place user;

// A key of the test's own, created below `parent` of a hive in a view and
// removed with everything below it.
class ScratchKey {
public:
    ScratchKey(HKEY hive, REGSAM viewFlag, std::wstring parent, std::wstring name);
    // A vendor key with a unique name under Software of the place.
    explicit ScratchKey(const Place& place, std::wstring name = UniqueName(L"OstrelElig"));
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    ~ScratchKey();

    HKEY get() const { return key_.Get(); }
    const std::wstring& name() const { return name_; }

    void AddSubkey(const std::wstring& below) const;
    void Set(const std::wstring& below, const std::wstring& name, DWORD type, const void* data, std::size_t size) const;
    void SetText(const std::wstring& below, const std::wstring& name, const std::wstring& text,
                 DWORD type = REG_SZ) const;
    void SetDword(const std::wstring& below, const std::wstring& name, std::uint32_t value) const;
    void SetQword(const std::wstring& below, const std::wstring& name, std::uint64_t value) const;

private:
    HKEY hive_;
    REGSAM viewFlag_;
    std::wstring parent_;
    std::wstring name_;
    win32::ScopedKey key_;
};

// An application registered under App Paths of a root in a view; removes the
// registration, and the App Paths key itself when the test created it.
class AppRegistration {
public:
    AppRegistration(HKEY root, REGSAM viewFlag, const std::wstring& name, const std::optional<std::wstring>& path);
    AppRegistration(const AppRegistration&) = delete;
    AppRegistration& operator=(const AppRegistration&) = delete;
    ~AppRegistration();

    void SetPath(const std::wstring& path) const;

private:
    HKEY root_;
    REGSAM viewFlag_;
    std::wstring name_;
    bool createdAppPaths_ = false;
};

// A folder of the test's own below the temporary folder, removed with its content.
class ScratchFolder {
public:
    ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    const std::wstring& path() const { return path_; }
    // Creates an empty file in the folder and answers its full path.
    std::wstring File(const std::wstring& name) const;

private:
    std::wstring path_;
};

// A copy of the tests' stand-in program running under a chosen file name;
// ended (and its copy removed) when the object goes.
class RunningProgram {
public:
    RunningProgram(const ScratchFolder& folder, const std::wstring& fileName);
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram();

private:
    PROCESS_INFORMATION process_{};
    std::wstring path_;
};

// Lower-case executable names the system lists as running now.
std::vector<std::wstring> RunningProcessNames();

}  // namespace ostrel::testing
