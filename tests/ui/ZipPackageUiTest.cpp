// ZIP packages in the real wizards: a large one unpacks while the window goes
// on answering, and one past the limits is reported with its reason through
// the usual failure event, runs nothing and leaves nothing behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/install/ZipBuilder.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

constexpr char kTooHighRatio[] =
    "ZIP PACKAGE REFUSED: AN ENTRY UNPACKS TO MORE THAN 1000 TIMES ITS SIZE IN THE ARCHIVE";
constexpr size_t kMiB = 1u << 20;

// An archive built in a file of its own and handed back as bytes.
template <typename Fill>
std::string ZipBytes(const wchar_t* name, Fill fill) {
    const std::wstring path = MakeTemporaryFolder(L"zpk") + L"\\" + name;
    bool built = false;
    {
        ZipBuilder zip(path);
        built = zip.IsOpen() && fill(zip) && zip.Finish();
    }
    std::string bytes = built ? ReadFileBytes(path).value_or(std::string()) : std::string();
    RemoveDirectoryTree(ParentFolder(path));
    return bytes;
}

// The sample installer and `copies` entries of 100 MiB that deflate to about
// a hundredth: seconds of unpacking from a few megabytes of download.
std::string LargePackage(int copies) {
    std::string block(100 * kMiB, '\0');
    for (size_t i = 0; i < block.size(); i += 512) block[i] = static_cast<char>((i / 512) % 251 + 1);
    const uLong crc = ::crc32(0, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(block.size()));
    std::string deflated;
    {
        z_stream stream{};
        ::deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        deflated.resize(::deflateBound(&stream, static_cast<uLong>(block.size())));
        stream.next_in = reinterpret_cast<Bytef*>(block.data());
        stream.avail_in = static_cast<uInt>(block.size());
        stream.next_out = reinterpret_cast<Bytef*>(deflated.data());
        stream.avail_out = static_cast<uInt>(deflated.size());
        if (::deflate(&stream, Z_FINISH) != Z_STREAM_END) deflated.clear();
        deflated.resize(stream.total_out);
        ::deflateEnd(&stream);
    }
    if (deflated.empty()) return {};
    return ZipBytes(L"large.zip", [&](ZipBuilder& zip) {
        if (!zip.AddFile("setup.exe", ProgramFolder() + L"\\ostrel_sample_installer.exe")) return false;
        for (int i = 0; i < copies; ++i) {
            if (!zip.AddRaw("data/part" + std::to_string(i) + ".bin", deflated, block.size(), crc)) return false;
        }
        return true;
    });
}

// The sample installer beside 20 MiB of zeros, which deflate to about 1:1030.
std::string ZeroBomb() {
    return ZipBytes(L"bomb.zip", [](ZipBuilder& zip) {
        return zip.AddFile("setup.exe", ProgramFolder() + L"\\ostrel_sample_installer.exe") &&
               zip.AddBytes("zeros.bin", std::string(20 * kMiB, '\0'));
    });
}

std::string DownloadConfiguration(const std::string& offers) {
    return R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/e2e/kestrel.exe","cf":"Kestrel Zip Setup.exe"},)"
           R"("f":{"m":3},"o":[)" +
           offers + "]}";
}

class ZipPackages : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        productPath = DownloadsFolder() + L"\\Kestrel Zip Setup.exe";
        ::DeleteFileW(productPath.c_str());
        installer = SampleInstallerBytes();
        ASSERT_FALSE(installer.empty());
        ASSERT_TRUE(server.WriteServedFile(L"e2e/kestrel.exe", installer));
        ASSERT_TRUE(server.WriteServedFile(L"e2e/beta.exe", installer));
    }
    void TearDown() override {
        ::DeleteFileW(productPath.c_str());
        InstallFlow::TearDown();
    }

    // Welcome, then the offers answered in turn, up to the download page.
    HWND StartDownloads(RunningWizard& wizard, const std::vector<bool>& accept, const std::wstring& downloadPage) {
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
        return welcome ? WalkOffers(wizard, welcome, accept, downloadPage) : nullptr;
    }

    std::wstring productPath;
    std::string installer;
};

TEST_F(ZipPackages, TheWindowAnswersWhileALargePackageUnpacks) {
    const std::string large = LargePackage(4);
    ASSERT_FALSE(large.empty());
    ASSERT_TRUE(server.WriteServedFile(L"e2e/large.zip", large));
    ASSERT_TRUE(
        server.WriteConfiguration(L"zp-huge", DownloadConfiguration(OfferJson("alpha", 1, "e2e/large.zip", "/S"))));
    RunningWizard wizard(L"DLM", L"zp-huge", Options());
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_NE(StartDownloads(wizard, {true}, L"DownloadPageDLM"), nullptr) << Describe(wizard);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_FALSE(workDirectory.empty());
    const std::wstring extractionFolder = workDirectory + L"\\large";

    // While the package unpacks (its folder is there, its installer has not
    // run yet) the window is asked again and again; each time it must answer
    // within a second.
    int asked = 0;
    DWORD slowest = 0;
    const ULONGLONG deadline = ::GetTickCount64() + 120000;
    while (Runs().empty() && ::GetTickCount64() < deadline) {
        if (IsDirectory(extractionFolder)) {
            const ULONGLONG before = ::GetTickCount64();
            DWORD_PTR answer = 0;
            const LRESULT answered =
                ::SendMessageTimeoutW(wizard.host, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, 1000, &answer);
            const DWORD took = static_cast<DWORD>(::GetTickCount64() - before);
            // Only what happened while the package was still unpacking counts.
            if (!Runs().empty()) break;
            ++asked;
            slowest = std::max(slowest, took);
            ASSERT_NE(answered, 0) << "the window did not answer within a second while the package unpacked";
        }
        ::Sleep(50);
    }
    EXPECT_GE(asked, 3) << "the package unpacked too fast for the window to be asked";
    EXPECT_LT(slowest, 1000u);

    // And the package was unpacked whole and started.
    const std::vector<json> runs = WaitForRuns(1, 60000);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(NormalisedFolder(RunPath(runs[0])), NormalisedFolder(extractionFolder + L"\\setup.exe"));
    ASSERT_NE(wizard.driver.WaitForPage(L"FinishPageDLM", kUiTimeoutMs), nullptr) << Describe(wizard);
    const std::vector<json> events = StoredEvents(3);
    EXPECT_FALSE(FindEvent(events, "3", "alpha").is_null());
}

TEST_F(ZipPackages, ARefusedOfferIsReportedWithItsReasonAndNothingOfItRuns) {
    ASSERT_TRUE(server.WriteServedFile(L"e2e/bomb.zip", ZeroBomb()));
    ASSERT_TRUE(server.WriteConfiguration(
        L"zp-bomb", DownloadConfiguration(OfferJson("alpha", 1, "e2e/bomb.zip", "/S /alpha") + "," +
                                          OfferJson("beta", 2, "e2e/beta.exe", "/S /beta"))));
    RunningWizard wizard(L"DLM", L"zp-bomb", Options());
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_NE(StartDownloads(wizard, {true, true}, L"FinishPageDLM"), nullptr) << Describe(wizard);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_FALSE(workDirectory.empty());

    // The other offer still runs; the refused one never does.
    const std::vector<json> runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].at("arguments"), json::array({"/S", "/beta"}));
    const std::vector<json> events = StoredEvents(4);
    const json refused = FindEvent(events, "-1", "alpha");
    ASSERT_FALSE(refused.is_null());
    EXPECT_EQ(refused.at("12"), kTooHighRatio);
    EXPECT_TRUE(FindEvent(events, "3", "alpha").is_null());
    EXPECT_FALSE(FindEvent(events, "3", "beta").is_null());
    EXPECT_FALSE(FindEvent(events, "3", "Kestrel Viewer").is_null());
    // Nothing of it was left unpacked.
    EXPECT_FALSE(IsDirectory(workDirectory + L"\\bomb"));
    ::Sleep(300);
    EXPECT_EQ(Runs().size(), 1u);
}

TEST_F(ZipPackages, ARefusedMainProductEndsTheInstallerWizardOnItsErrorPage) {
    ASSERT_TRUE(server.WriteServedFile(L"ostrel-tester.exe", ZeroBomb()));
    ASSERT_TRUE(server.WriteConfiguration(
        L"zp-main", R"({"f":{"m":3},"o":[)" + OfferJson("beta", 2, "e2e/beta.exe", "/S /beta") + "]}"));
    RunningWizard wizard(L"ISV", L"zp-main", Options());
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_NE(StartDownloads(wizard, {true}, L"DownloadPageISV"), nullptr) << Describe(wizard);
    ASSERT_NE(wizard.driver.WaitForPage(L"ErrorPage", kUiTimeoutMs), nullptr) << Describe(wizard);

    const std::vector<json> events = StoredEvents(3);
    const json main = FindEvent(events, "-1", "Ostrel Tester");
    ASSERT_FALSE(main.is_null());
    EXPECT_EQ(main.at("12"), kTooHighRatio);
    const json offer = FindEvent(events, "-1", "beta");
    ASSERT_FALSE(offer.is_null());
    EXPECT_EQ(offer.at("12"), "MAIN PRODUCT INSTALLATION FAILED");
    ::Sleep(500);
    EXPECT_TRUE(Runs().empty());
}

}  // namespace
