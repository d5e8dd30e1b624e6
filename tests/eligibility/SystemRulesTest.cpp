// The rules on the machine itself that remain after the limit, resources and
// Windows version: 64-bit Windows, files and running programs, each with the
// rejection event the reference server stores.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "core/PathMacros.h"
#include "tests/common/TestSupport.h"
#include "tests/eligibility/EligibilityTestSupport.h"
#include "tests/eligibility/MeasurementProbes.h"

namespace {

using nlohmann::json;
using ostrel::testing::EligibilityTest;
using ostrel::testing::Narrow;
using ostrel::testing::RunningProgram;
using ostrel::testing::ScratchFolder;
using ostrel::testing::SnapshotProbe;
using ostrel::testing::UniqueName;

constexpr char kFileExists[] = "FILE EXISTS";
constexpr char kApplicationRunning[] = "APPLICATION RUNNING";

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
