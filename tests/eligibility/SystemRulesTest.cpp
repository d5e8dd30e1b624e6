// The limit, the category rule and the rules on the machine itself: free
// disk space, memory, Windows version, 64-bit Windows, files and running
// programs, each with the rejection event the reference server stores.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "shell/PathMacros.h"
#include "tests/common/TestSupport.h"
#include "tests/eligibility/EligibilityTestSupport.h"
#include "tests/eligibility/MeasurementProbes.h"

namespace {

using nlohmann::json;
using ostrel::testing::DiskProbe;
using ostrel::testing::EligibilityTest;
using ostrel::testing::MemoryProbe;
using ostrel::testing::Narrow;
using ostrel::testing::RunningProgram;
using ostrel::testing::ScratchFolder;
using ostrel::testing::ScratchKey;
using ostrel::testing::SnapshotProbe;
using ostrel::testing::UniqueName;

constexpr char kNotEnoughDisk[] = "NOT ENOUGH DISK SPACE";
constexpr char kNotEnoughRam[] = "NOT ENOUGH RAM";
constexpr char kUnsupportedOs[] = "UNSUPPORTED OS VERSION";
constexpr char kFileExists[] = "FILE EXISTS";
constexpr char kApplicationRunning[] = "APPLICATION RUNNING";
constexpr std::uint64_t kMiB = ostrel::testing::kMiB;

// ---------------------------------------------------------------------------
// Limit and category

class EligibilityLimit : public EligibilityTest {};

TEST_F(EligibilityLimit, NoRoomStopsTheFirstOfferSilently) {
    for (const int maxOffers : {0, -1}) {
        EligibilityEngine engine(maxOffers);
        const auto first = Offer();
        const auto second = Offer({{"v", 7}});
        bool limitReached = false;
        EXPECT_FALSE(engine.Evaluate(first, limitReached)) << maxOffers;
        EXPECT_TRUE(limitReached) << maxOffers;
        EXPECT_FALSE(engine.Evaluate(second, limitReached)) << maxOffers;
        EXPECT_TRUE(limitReached) << maxOffers;
        ExpectReasons({{first, ""}, {second, ""}});
    }
}

TEST_F(EligibilityLimit, TheOfferAfterTheLastAcceptedOneSetsTheFlag) {
    EligibilityEngine engine(2);
    std::vector<std::shared_ptr<Package>> offers;
    for (int i = 0; i < 5; ++i) offers.push_back(Offer());
    bool limitReached = false;
    EXPECT_TRUE(engine.Evaluate(offers[0], limitReached));
    EXPECT_FALSE(limitReached);
    EXPECT_TRUE(engine.Evaluate(offers[1], limitReached));
    EXPECT_FALSE(limitReached);
    for (int i = 2; i < 5; ++i) {
        EXPECT_FALSE(engine.Evaluate(offers[i], limitReached)) << i;
        EXPECT_TRUE(limitReached) << i;
    }
    // An offer that would fail a later check is stopped by the limit first, and silently.
    const auto sameCategory = Offer({{"v", offers[0]->Vertical()}, {"ov", 64}});
    EXPECT_FALSE(engine.Evaluate(sameCategory, limitReached));
    ExpectReasons({{offers[0], ""}, {offers[1], ""}, {offers[2], ""}, {offers[3], ""}, {offers[4], ""},
                   {sameCategory, ""}});
}

TEST_F(EligibilityLimit, TheFlagIsNeverResetByAnAcceptedOffer) {
    EligibilityEngine engine(5);
    bool limitReached = true;
    EXPECT_TRUE(engine.Evaluate(Offer(), limitReached));
    EXPECT_TRUE(limitReached);
}

class EligibilityVertical : public EligibilityTest {};

TEST_F(EligibilityVertical, OneOfferPerCategoryWithItsOwnReasonForNoCategory) {
    EligibilityEngine engine(100);
    const auto seven = Offer({{"v", 7}});
    const auto sevenAgain = Offer({{"v", 7}});
    const auto none = Offer({{"v", -1}});
    const auto noneAgain = Offer({{"v", -1}});
    const auto withoutKey = Offer({{"v", nullptr}});
    const auto withoutKeyAgain = Offer({{"v", nullptr}});
    const auto zero = Offer({{"v", 0}});
    const auto eight = Offer({{"v", 8}});
    // Truncated towards zero: 7.9 is category 7.
    const auto sevenFraction = Offer({{"v", 7.9}});
    EXPECT_EQ(EvaluateAll(engine, {seven, sevenAgain, none, noneAgain, withoutKey, withoutKeyAgain, zero, eight,
                                   sevenFraction}),
              (std::vector<bool>{true, false, true, false, true, false, false, true, false}));
    ExpectReasons({{seven, ""},
                   {sevenAgain, "SAME VERTICAL OFFER ALREADY PRESENT"},
                   {none, ""},
                   {noneAgain, "MULTIPLE OFFERS W/O VERTICAL"},
                   {withoutKey, ""},
                   {withoutKeyAgain, "SAME VERTICAL OFFER ALREADY PRESENT"},
                   {zero, "SAME VERTICAL OFFER ALREADY PRESENT"},
                   {eight, ""},
                   {sevenFraction, "SAME VERTICAL OFFER ALREADY PRESENT"}});
}

TEST_F(EligibilityVertical, ARejectedOfferDoesNotTakeItsCategory) {
    EligibilityEngine engine(100);
    const auto tooBig = Offer({{"v", 7}, {"disk", std::numeric_limits<std::uint64_t>::max()}});
    const auto noOs = Offer({{"v", 7}, {"ov", 64}});
    const auto fits = Offer({{"v", 7}});
    const auto fitsAgain = Offer({{"v", 7}});
    EXPECT_EQ(EvaluateAll(engine, {tooBig, noOs, fits, fitsAgain}), (std::vector<bool>{false, false, true, false}));
    ExpectReasons({{tooBig, kNotEnoughDisk},
                   {noOs, kUnsupportedOs},
                   {fits, ""},
                   {fitsAgain, "SAME VERTICAL OFFER ALREADY PRESENT"}});
}

// ---------------------------------------------------------------------------
// Disk space and memory, watched where the engine asks the system

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
        {1ull << 30, 1024, true},
        {(1ull << 30) - 1, 1024, false},  // 1 byte short of a GiB is 1023 MiB
        {(1ull << 30) - 1, 1023, true},
        {all, all >> 20, true},
        {all, (all >> 20) + 1, false},
        {0, 1, false},
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

// ---------------------------------------------------------------------------
// Windows version

struct WindowsVersion {
    DWORD major = 0;
    DWORD minor = 0;
};

// The version Windows reports to this process, whatever its manifest says.
WindowsVersion RunningWindows() {
    using RtlGetVersionFunction = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) return {};
    return {info.dwMajorVersion, info.dwMinorVersion};
}

bool AtLeast(const WindowsVersion& running, DWORD major, DWORD minor) {
    return running.major > major || (running.major == major && running.minor >= minor);
}

class EligibilityOsVersion : public EligibilityTest {
protected:
    // Every code of the table, codes beside it and codes without a requirement.
    void ExpectCodesFollow(const WindowsVersion& running) {
        const std::pair<json, std::optional<WindowsVersion>> codes[] = {
            {61, WindowsVersion{6, 1}}, {62, WindowsVersion{6, 2}}, {63, WindowsVersion{6, 3}},
            {100, WindowsVersion{10, 0}}, {64, std::nullopt},       {1, std::nullopt},
            {60, std::nullopt},          {99, std::nullopt},        {101, std::nullopt},
            {true, std::nullopt},        {0, WindowsVersion{}},     {-5, WindowsVersion{}},
            {std::numeric_limits<std::int32_t>::min(), WindowsVersion{}},
        };
        EligibilityEngine engine(100);
        std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
        for (const auto& [code, needs] : codes) {
            const bool accepted = needs && AtLeast(running, needs->major, needs->minor);
            const auto offer = Offer({{"ov", code}});
            bool limitReached = false;
            EXPECT_EQ(engine.Evaluate(offer, limitReached), accepted)
                << "code " << code.dump() << " on Windows " << running.major << "." << running.minor;
            expected.emplace_back(offer, accepted ? "" : kUnsupportedOs);
        }
        ExpectReasons(expected);
    }
};

TEST_F(EligibilityOsVersion, CodesFollowTheRunningWindows) {
    const WindowsVersion running = RunningWindows();
    ASSERT_GE(running.major, 6u);
    ExpectCodesFollow(running);
}

// Runs a renamed copy of this program that Wine tells another Windows version
// (a setting per executable name); the copy checks the codes against it.
TEST_F(EligibilityOsVersion, CodesFollowTheWindowsReportedToARenamedCopy) {
    wchar_t self[MAX_PATH * 2] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH * 2), 0u);
    const struct {
        const wchar_t* wineName;
        const wchar_t* version;
    } systems[] = {{L"win7", L"6.1"}, {L"win8", L"6.2"}, {L"win81", L"6.3"}};
    for (const auto& system : systems) {
        SCOPED_TRACE(Narrow(system.wineName));
        const ScratchFolder folder;
        const std::wstring name = UniqueName(L"ostrel-elig-") + system.wineName + L".exe";
        const std::wstring copy = folder.path() + L"\\" + name;
        const std::wstring result = folder.path() + L"\\result.txt";
        ASSERT_TRUE(::CopyFileW(self, copy.c_str(), FALSE));
        const ScratchKey appDefaults(HKEY_CURRENT_USER, 0, L"Software\\Wine\\AppDefaults", name);
        appDefaults.SetText(L"", L"Version", system.wineName);

        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_WINDOWS", system.version);
        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_CHILD_RESULT", result.c_str());
        std::wstring commandLine = L"\"" + copy + L"\" --gtest_filter=EligibilityOsVersionChild.*";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION child{};
        const BOOL started = ::CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                              nullptr, &startup, &child);
        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_WINDOWS", nullptr);
        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_CHILD_RESULT", nullptr);
        ASSERT_TRUE(started);
        if (::WaitForSingleObject(child.hProcess, 90000) != WAIT_OBJECT_0) {
            ::TerminateProcess(child.hProcess, 1);
            ::WaitForSingleObject(child.hProcess, 10000);
            ADD_FAILURE() << "the copy did not finish";
        }
        DWORD exitCode = 1;
        ::GetExitCodeProcess(child.hProcess, &exitCode);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
        EXPECT_EQ(exitCode, 0u);
        std::ifstream file{std::filesystem::path(result)};
        std::stringstream text;
        text << file.rdbuf();
        file.close();
        EXPECT_EQ(text.str(), "checked") << "the copy did not run its check";
    }
}

class EligibilityOsVersionChild : public EligibilityOsVersion {};

TEST_F(EligibilityOsVersionChild, CodesFollowTheReportedWindows) {
    wchar_t version[16] = {};
    wchar_t result[MAX_PATH * 2] = {};
    if (::GetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_WINDOWS", version, 16) == 0 ||
        ::GetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_CHILD_RESULT", result, MAX_PATH * 2) == 0) {
        GTEST_SKIP() << "runs inside renamed copies only";
    }
    const WindowsVersion running = RunningWindows();
    ASSERT_EQ(std::to_wstring(running.major) + L"." + std::to_wstring(running.minor), version)
        << "Wine did not apply the version set for this copy";
    ExpectCodesFollow(running);
    if (!HasFailure()) std::ofstream(std::filesystem::path(result)) << "checked";
}

// ---------------------------------------------------------------------------
// 64-bit Windows, files

class EligibilitySixtyFourBit : public EligibilityTest {};

bool SixtyFourBitWindows() {
#ifdef _WIN64
    return true;  // a 64-bit program runs on 64-bit Windows only
#else
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

// Both builds must give the same answer on the same Windows.
TEST_F(EligibilitySixtyFourBit, RequirementFollowsTheWindowsNotTheBuild) {
    const bool sixtyFourBitWindows = SixtyFourBitWindows();
    const auto needs64 = Offer({{"win64", true}});
    const auto needsNothing = Offer({{"win64", false}});
    EXPECT_EQ(EvaluateAlone(needs64), sixtyFourBitWindows);
    EXPECT_TRUE(EvaluateAlone(needsNothing));
    ExpectReasons({{needs64, sixtyFourBitWindows ? "" : "64 BIT OS REQUIRED"}, {needsNothing, ""}});
}

class EligibilityFiles : public EligibilityTest {};

TEST_F(EligibilityFiles, AnyExistingFileOrFolderBlocks) {
    const ScratchFolder folder;
    const std::string present = Narrow(folder.File(L"present.exe"));
    const std::string absent = Narrow(folder.path() + L"\\absent.exe");
    const std::string absentToo = Narrow(folder.path() + L"\\absent\\deeper.exe");
    ExpectOutcomes({
        {{{"fe", {absent}}}, ""},
        {{{"fe", {absent, absentToo}}}, ""},
        {{{"fe", {absent, present}}}, kFileExists},
        {{{"fe", present}}, kFileExists},  // one string instead of a list
        {{{"fe", {Narrow(folder.path())}}}, kFileExists},
        {{{"fe", {Narrow(folder.path()) + "\\PRESENT.EXE"}}}, kFileExists},
        {{{"fe", json::array()}}, ""},
    });
}

TEST_F(EligibilityFiles, FolderMacrosAreReplacedAndUnknownOnesTestedLiterally) {
    const CStringW localAppData = GetKnownFolderPath(FOLDERID_LocalAppData, false);
    ASSERT_FALSE(localAppData.empty());
    const std::wstring vendor = UniqueName(L"OstrelElig");
    const std::wstring vendorFolder = localAppData + L"\\" + vendor;
    ASSERT_TRUE(::CreateDirectoryW(vendorFolder.c_str(), nullptr));
    const HANDLE file = ::CreateFileW((vendorFolder + L"\\app.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    const std::string macroPath = "{localappdata}\\" + Narrow(vendor);
    ExpectOutcomes({
        {{{"fe", {macroPath + "\\app.exe"}}}, kFileExists},
        {{{"fe", {macroPath + "\\other.exe"}}}, ""},
        {{{"fe", {"{nosuchfolder}\\" + Narrow(vendor) + "\\app.exe"}}}, ""},
    });
    ostrel::testing::RemoveDirectoryTree(vendorFolder);
}

// ---------------------------------------------------------------------------
// Running programs

class EligibilityProcesses : public EligibilityTest {};

TEST_F(EligibilityProcesses, NamesWithoutTheExtensionMatchAnyOneExtension) {
    const ScratchFolder folder;
    const RunningProgram myApp(folder, L"my.app.exe");
    const std::wstring stem = UniqueName(L"OstrelStandIn");
    const RunningProgram standIn(folder, stem + L".exe");
    const std::string name = Narrow(stem);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    EligibilityEngine engine(100);
    const std::pair<json, bool> cases[] = {
        {{"my.app"}, false},
        {{"my.app.exe"}, false},
        {{"MY.APP.EXE"}, false},
        {{"My.App"}, false},
        {{upper}, false},
        {{name + ".exe"}, false},
        {{"absent-" + name, "my.app"}, false},
        {{"my"}, true},
        {{"my.ap"}, true},
        {{"app.exe"}, true},
        {{"app"}, true},
        {{"my.app.ex"}, true},
        {{"my.app.exe.old"}, true},
        {{name.substr(0, name.size() - 1)}, true},
        {{name + ".dll"}, true},
        {{""}, true},
    };
    std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
    for (const auto& [entries, accepted] : cases) {
        const auto offer = Offer({{"a", entries}});
        bool limitReached = false;
        EXPECT_EQ(engine.Evaluate(offer, limitReached), accepted) << entries.dump();
        expected.emplace_back(offer, accepted ? "" : kApplicationRunning);
    }
    ExpectReasons(expected);
}

TEST_F(EligibilityProcesses, ListIsTakenOncePerEngineFromItsFirstOfferAndRetakenAfterAFailure) {
    const ScratchFolder folder;
    SnapshotProbe probe;
    bool limitReached = false;

    EligibilityEngine engine(100);
    int before = SnapshotProbe::calls;
    // Taken even for an offer that names no program.
    EXPECT_TRUE(engine.Evaluate(Offer(), limitReached));
    EXPECT_EQ(SnapshotProbe::calls - before, 1);
    const std::wstring late = UniqueName(L"OstrelLate");
    const RunningProgram lateStart(folder, late + L".exe");
    before = SnapshotProbe::calls;
    const auto startedLater = Offer({{"a", {Narrow(late)}}});
    EXPECT_TRUE(engine.Evaluate(startedLater, limitReached)) << "the list is the one taken at the first offer";
    EXPECT_EQ(SnapshotProbe::calls - before, 0);

    EligibilityEngine failing(100);
    SnapshotProbe::failure = ERROR_ACCESS_DENIED;
    before = SnapshotProbe::calls;
    const auto unseen = Offer({{"a", {Narrow(late)}}});
    EXPECT_TRUE(failing.Evaluate(unseen, limitReached)) << "a failed snapshot lets the offer pass";
    EXPECT_TRUE(failing.Evaluate(Offer(), limitReached));
    EXPECT_EQ(SnapshotProbe::calls - before, 2) << "retaken while the list is empty";
    SnapshotProbe::failure = 0;
    before = SnapshotProbe::calls;
    const auto seen = Offer({{"a", {Narrow(late)}}});
    EXPECT_FALSE(failing.Evaluate(seen, limitReached));
    EXPECT_TRUE(failing.Evaluate(Offer({{"a", {"absent-" + Narrow(late)}}}), limitReached));
    EXPECT_EQ(SnapshotProbe::calls - before, 1);
    ExpectReasons({{startedLater, ""}, {unseen, ""}, {seen, kApplicationRunning}});
}

}  // namespace
