// Free disk space and memory, watched where the engine asks the system, each
// with the rejection event the reference server stores.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "tests/eligibility/EligibilityTestSupport.h"
#include "tests/eligibility/MeasurementProbes.h"

namespace {

using ostrel::testing::DiskProbe;
using ostrel::testing::EligibilityTest;
using ostrel::testing::MemoryProbe;

constexpr char kNotEnoughDisk[] = "NOT ENOUGH DISK SPACE";
constexpr char kNotEnoughRam[] = "NOT ENOUGH RAM";
constexpr std::uint64_t kMiB = ostrel::testing::kMiB;

std::wstring DefaultUsersDesktop() {
    PWSTR path = nullptr;
    const HRESULT result =
        ::SHGetKnownFolderPath(FOLDERID_Desktop, 0, reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)), &path);
    std::wstring text = SUCCEEDED(result) && path ? path : L"";
    ::CoTaskMemFree(path);
    return text;
}

class EligibilityDisk : public EligibilityTest {};

TEST_F(EligibilityDisk, MachinesOwnFigureIsEnoughAndOneMiBMoreIsNotMeasuredOncePerEngine) {
    DiskProbe probe;
    EligibilityEngine engine(100);
    const auto noRequirement = Offer({{"disk", 0}});
    bool limitReached = false;
    EXPECT_TRUE(engine.Evaluate(noRequirement, limitReached));
    EXPECT_EQ(DiskProbe::calls, 0) << "an offer without a requirement measures nothing";

    const auto one = Offer({{"disk", 1}});
    const bool oneAccepted = engine.Evaluate(one, limitReached);
    ASSERT_EQ(DiskProbe::calls, 1);
    const std::uint64_t freeMb = DiskProbe::seenAvailable >> 20;
    EXPECT_EQ(oneAccepted, freeMb >= 1);
    // The system volume is the one holding the default user's desktop.
    EXPECT_EQ(DiskProbe::root, DefaultUsersDesktop().substr(0, 3));
    EXPECT_EQ(DiskProbe::root.size(), 3u);

    const auto exactlyEnough = Offer({{"disk", freeMb}});
    const auto oneMiBMore = Offer({{"disk", freeMb + 1}});
    const auto exactlyEnoughAgain = Offer({{"disk", freeMb}});
    EXPECT_EQ(EvaluateAll(engine, {exactlyEnough, oneMiBMore, exactlyEnoughAgain}),
              (std::vector<bool>{true, false, true}));
    EXPECT_EQ(DiskProbe::calls, 1) << "measured once per engine";

    EligibilityEngine another(100);
    const auto most = Offer({{"disk", std::numeric_limits<std::uint64_t>::max()}});
    EXPECT_FALSE(another.Evaluate(most, limitReached));
    EXPECT_EQ(DiskProbe::calls, 2) << "every engine measures for itself";
    ExpectReasons({{noRequirement, ""},
                   {one, oneAccepted ? "" : kNotEnoughDisk},
                   {exactlyEnough, ""},
                   {oneMiBMore, kNotEnoughDisk},
                   {exactlyEnoughAgain, ""},
                   {most, kNotEnoughDisk}});
}

TEST_F(EligibilityDisk, WholeMiBOfTheSpaceFreeForTheUser) {
    DiskProbe probe;
    struct Step {
        std::uint64_t available;
        std::uint64_t required;
        bool accepted;
    };
    const std::uint64_t all = std::numeric_limits<std::uint64_t>::max();
    const Step steps[] = {
        {1ull << 30, 1024, true},       {(1ull << 30) - 1, 1024, false},  // 1 byte short of a GiB is 1023 MiB
        {(1ull << 30) - 1, 1023, true}, {all, all >> 20, true},          {all, (all >> 20) + 1, false}, {0, 1, false},
    };
    std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
    for (const Step& step : steps) {
        DiskProbe::available = step.available;
        const auto offer = Offer({{"disk", step.required}});
        EXPECT_EQ(EvaluateAlone(offer), step.accepted) << step.available << " bytes, " << step.required << " MiB";
        expected.emplace_back(offer, step.accepted ? "" : kNotEnoughDisk);
    }
    ExpectReasons(expected);
}

TEST_F(EligibilityDisk, FailedMeasurementRejectsWithItsCodeAndIsRepeated) {
    DiskProbe probe;
    EligibilityEngine engine(100);
    DiskProbe::failure = ERROR_NOT_READY;
    const auto first = Offer({{"disk", 1}});
    DiskProbe::failure = ERROR_PATH_NOT_FOUND;
    const auto second = Offer({{"disk", 1}});
    bool limitReached = false;
    DiskProbe::failure = ERROR_NOT_READY;
    EXPECT_FALSE(engine.Evaluate(first, limitReached));
    DiskProbe::failure = ERROR_PATH_NOT_FOUND;
    EXPECT_FALSE(engine.Evaluate(second, limitReached));
    EXPECT_EQ(DiskProbe::calls, 2);
    DiskProbe::failure = 0;
    DiskProbe::available = 5 * kMiB;
    const auto third = Offer({{"disk", 5}});
    const auto fourth = Offer({{"disk", 6}});
    EXPECT_EQ(EvaluateAll(engine, {third, fourth}), (std::vector<bool>{true, false}));
    EXPECT_EQ(DiskProbe::calls, 3);
    ExpectReasons({{first, "DISK SPACE CHECK FAILED " + std::to_string(ERROR_NOT_READY)},
                   {second, "DISK SPACE CHECK FAILED " + std::to_string(ERROR_PATH_NOT_FOUND)},
                   {third, ""},
                   {fourth, kNotEnoughDisk}});
}

class EligibilityMemory : public EligibilityTest {};

TEST_F(EligibilityMemory, InstalledMemoryIsEnoughAndOneMiBMoreIsNotMeasuredOncePerEngine) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    ASSERT_TRUE(::GlobalMemoryStatusEx(&status));
    const std::uint64_t installedMb = status.ullTotalPhys >> 20;

    MemoryProbe probe;
    EligibilityEngine engine(100);
    const auto noRequirement = Offer({{"ram", 0}});
    const auto exactlyEnough = Offer({{"ram", installedMb}});
    const auto oneMiBMore = Offer({{"ram", installedMb + 1}});
    // Fractional numbers are truncated like every other number of the offer.
    const auto fraction = Offer({{"ram", static_cast<double>(installedMb) + 0.9}});
    const auto little = Offer({{"ram", 1}});
    bool limitReached = false;
    EXPECT_TRUE(engine.Evaluate(noRequirement, limitReached));
    EXPECT_EQ(MemoryProbe::calls, 0) << "an offer without a requirement measures nothing";
    EXPECT_EQ(EvaluateAll(engine, {exactlyEnough, oneMiBMore, fraction, little}),
              (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(MemoryProbe::calls, 1) << "measured once per engine";
    EXPECT_EQ(MemoryProbe::length, 64u);

    EligibilityEngine another(100);
    const auto again = Offer({{"ram", installedMb + 1}});
    EXPECT_FALSE(another.Evaluate(again, limitReached));
    EXPECT_EQ(MemoryProbe::calls, 2) << "every engine measures for itself";
    ExpectReasons({{noRequirement, ""},
                   {exactlyEnough, ""},
                   {oneMiBMore, kNotEnoughRam},
                   {fraction, ""},
                   {little, ""},
                   {again, kNotEnoughRam}});
}

TEST_F(EligibilityMemory, InstalledNotFreeMemoryInWholeMiB) {
    MemoryProbe probe;
    struct Step {
        std::uint64_t total;
        std::uint64_t required;
        bool accepted;
    };
    const Step steps[] = {
        {(4096ull << 20) - (kMiB / 10), 4096, false},  // 4095.9 MiB installed
        {(4096ull << 20) - (kMiB / 10), 4095, true},
        {4096ull << 20, 4096, true},
        // A third of it is free: an offer needing more than that still fits.
        {3072ull << 20, 2048, true},
    };
    std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
    for (const Step& step : steps) {
        MemoryProbe::total = step.total;
        const auto offer = Offer({{"ram", step.required}});
        EXPECT_EQ(EvaluateAlone(offer), step.accepted) << step.total << " bytes, " << step.required << " MiB";
        expected.emplace_back(offer, step.accepted ? "" : kNotEnoughRam);
    }
    ExpectReasons(expected);
}

TEST_F(EligibilityMemory, FailedMeasurementRejectsWithItsUnsignedCodeAndIsRepeated) {
    MemoryProbe probe;
    EligibilityEngine engine(100);
    const DWORD unsignedCode = 0xC0000017;  // above the signed range: printed as 3221225495
    const auto first = Offer({{"ram", 1}});
    const auto second = Offer({{"ram", 1}});
    const auto third = Offer({{"ram", 1}});
    bool limitReached = false;
    MemoryProbe::failure = unsignedCode;
    EXPECT_FALSE(engine.Evaluate(first, limitReached));
    MemoryProbe::failure = ERROR_INVALID_PARAMETER;
    EXPECT_FALSE(engine.Evaluate(second, limitReached));
    MemoryProbe::failure = 0;
    EXPECT_TRUE(engine.Evaluate(third, limitReached));
    EXPECT_TRUE(engine.Evaluate(Offer({{"ram", 1}}), limitReached));
    EXPECT_EQ(MemoryProbe::calls, 3);
    ExpectReasons({{first, "RAM CHECK FAILED 3221225495"},
                   {second, "RAM CHECK FAILED " + std::to_string(ERROR_INVALID_PARAMETER)},
                   {third, ""},
                   {madeOffers.back(), ""}});
}

}  // namespace
