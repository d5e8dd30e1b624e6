// An offer that fails several checks is reported once, with the reason of
// the first failing check in the engine's order; the checks after it do not run.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>
#include <cwctype>

#include "packages/EligibilityEngine.h"
#include "core/TextConversion.h"
#include "tests/eligibility/EligibilityTestSupport.h"
#include "tests/eligibility/MeasurementProbes.h"

namespace {

using nlohmann::json;
using ostrel::testing::AppRegistration;
using ostrel::testing::DiskProbe;
using ostrel::testing::EligibilityTest;
using ostrel::testing::MemoryProbe;
using ostrel::testing::Narrow;
using ostrel::testing::RunningProgram;
using ostrel::testing::ScratchFolder;
using ostrel::testing::ScratchKey;
using ostrel::testing::UniqueName;
using ostrel::testing::user;

class EligibilityCheckOrder : public EligibilityTest {};

TEST_F(EligibilityCheckOrder, EachPairOfNeighbouringChecksReportsTheEarlierOne) {
    const ScratchFolder folder;
    const std::string file = Narrow(folder.File(L"present.exe"));
    const std::wstring program = UniqueName(L"OstrelOrder");
    const RunningProgram running(folder, program + L".exe");
    const ScratchKey vendor(user);
    vendor.SetText(L"Product", L"Version", L"2");
    const std::string key = Narrow(vendor.name()) + "\\product";
    std::wstring app = UniqueName(L"ostrel-order") + L".exe";
    for (wchar_t& c : app) c = static_cast<wchar_t>(std::towlower(c));
    const AppRegistration registered(HKEY_CURRENT_USER, 0, app, Utf8ToWide(file));
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();

    // In the engine's order, each with the reason it gives on its own.
    const std::vector<Case> checks = {
        {{{"disk", most}}, "NOT ENOUGH DISK SPACE"},
        {{{"ram", most}}, "NOT ENOUGH RAM"},
        {{{"ov", 64}}, "UNSUPPORTED OS VERSION"},
        {{{"fe", {file}}}, "FILE EXISTS"},
        {{{"a", {Narrow(program)}}}, "APPLICATION RUNNING"},
        {{{"r", {key}}}, "REGISTRY KEY EXISTS"},
        {{{"rvn", {key + "\\version"}}}, "REGISTRY VALUE EXISTS"},
        {{{"rvd", {key + "\\version\\2"}}}, "REGISTRY VALUE DATA MATCHES"},
        {{{"iapp", {Narrow(app) + "-absent"}}}, "REGISTRY INCLUDE APP NOT FOUND"},
        {{{"eapp", {Narrow(app)}}}, "REGISTRY EXCLUDE APP FOUND"},
    };
    std::vector<Case> cases = checks;
    json all = json::object();
    for (std::size_t i = 0; i < checks.size(); ++i) {
        all.update(checks[i].requirements);
        if (i + 1 == checks.size()) break;
        json both = checks[i].requirements;
        both.update(checks[i + 1].requirements);
        cases.push_back({both, checks[i].reason});
    }
    cases.push_back({all, checks.front().reason});
    ExpectOutcomes(cases);
}

TEST_F(EligibilityCheckOrder, ChecksAfterTheFailingOneMeasureNothing) {
    DiskProbe disk;
    MemoryProbe memory;
    EligibilityEngine engine(100);
    const auto first = Offer({{"v", 7}});
    const auto sameCategory = Offer({{"v", 7}, {"disk", 1}, {"ram", 1}});
    const auto noDisk = Offer({{"disk", std::numeric_limits<std::uint64_t>::max()}, {"ram", 1}});
    EXPECT_EQ(EvaluateAll(engine, {first, sameCategory}), (std::vector<bool>{true, false}));
    EXPECT_EQ(DiskProbe::calls, 0);
    EXPECT_EQ(MemoryProbe::calls, 0);
    bool limitReached = false;
    EXPECT_FALSE(engine.Evaluate(noDisk, limitReached));
    EXPECT_EQ(DiskProbe::calls, 1);
    EXPECT_EQ(MemoryProbe::calls, 0);
    ExpectReasons(
        {{first, ""}, {sameCategory, "SAME VERTICAL OFFER ALREADY PRESENT"}, {noDisk, "NOT ENOUGH DISK SPACE"}});
}

// The table is where the order is written; a check added to it needs its
// place in the cases above, and a check that falls out of it would accept
// offers silently.
TEST(EligibilityCheckTable, ListsEveryCheckOnceInTheOrderTheReasonsShow) {
    const std::vector<std::string> expected = {
        "category",        "disk space",   "memory",         "os version",          "64-bit os",   "existing file",
        "running process", "registry key", "registry value", "registry value data", "missing app", "excluded app",
    };
    EXPECT_EQ(EligibilityEngine::CheckNames(), expected);
}

}  // namespace
