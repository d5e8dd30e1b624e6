// The queue both download pages run, driven by a stand-in page that records
// what the queue asks of it, against the file host on the built-in host:
// the order of transfers and installers, the events each package reports,
// where a failure stops the queue, and that a closed wizard starts nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/EventTemplate.h"
#include "install/DownloadQueue.h"
#include "offers/OfferList.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"
#include "shell/PageBase.h"
#include "core/TextConversion.h"
#include "tests/common/TestServer.h"
#include "tests/common/TestSupport.h"

namespace {

using nlohmann::json;
using ostrel::testing::PumpMessages;
using ostrel::testing::ReadFileBytes;
using ostrel::testing::TestServer;

constexpr DWORD kQueueTimeoutMs = 20000;
// The main product's events carry no offer code.
constexpr char kMainProduct[] = "";
constexpr char kNotAProgram[] = "not a program, so it cannot start\r\n";

// What the stand-in page does at the decisions the queue leaves to a page.
struct Choices {
    bool keepForInstall = false;
    bool goOnAfterMainInstaller = true;
    bool closeWhileInstallerStarts = false;
};

class RecordingPage : public PageBase, private DownloadQueue::Client {
public:
    RecordingPage(HWND parent, Choices choices) : PageBase(nullptr, IDD_DOWNLOAD_PAGE_DLM, parent), choices(choices) {}

    void OnNavigateToPage() override { queue.Start(); }
    CStringW GetPageName() override { return L"RecordingPage"; }

    std::vector<std::string> log;
    std::vector<CStringW> downloadedFiles;
    bool ended = false;

private:
    static std::string Name(const Package& package) { return package.IsMain() ? "main" : package.OfferCode(); }

    DownloadQueue::Transfer TransferOf(const Package& package) override {
        log.push_back("transfer " + Name(package));
        auto settings = ConfigurationManager::GetInstance();
        return {package.IsMain() ? settings->productUrl : OfferDownloadUrl(package), CStringW(), true,
                choices.keepForInstall};
    }
    void OnDownloaded(Package& package, const CStringW& path) override {
        log.push_back("downloaded " + Name(package));
        downloadedFiles.push_back(path);
    }
    void OnMainProductNotDownloaded() override { End("main not downloaded"); }
    void OnNothingToInstall() override { End("nothing to install"); }
    void OnInstallersStarting() override { log.push_back("installers starting"); }
    DownloadQueue::Launch LaunchOf(const Package& package) override {
        log.push_back("launch " + Name(package));
        if (choices.closeWhileInstallerStarts) ConfigurationManager::GetInstance()->cancelRequested = true;
        return {L"/S", false};
    }
    bool OnMainInstallerEnded(Package&, const InstallerStart& start) override {
        log.push_back(start.run.second != 0 ? "main installer not started" : "main installer ended");
        if (!choices.goOnAfterMainInstaller) {
            queue.FailWaitingInstallers({{"12", "NOT AFTER THIS MAIN"}});
            ended = true;
        }
        return choices.goOnAfterMainInstaller;
    }
    void OnInstallersStarted() override { End("installers started"); }

    void End(const std::string& what) {
        log.push_back(what);
        ended = true;
    }

    Choices choices;
    DownloadQueue queue{*this, *this};
};

class DownloadQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.1 not reachable";
        // Served files outlive a reset: each test fetches from a folder of its own.
        folder = std::string("queue/") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        auto settings = ConfigurationManager::GetInstance();
        savedProductUrl = settings->productUrl;
        savedOfferBaseUrl = settings->offerBaseUrl;
        settings->offerBaseUrl = L"https://127.0.0.1/f/";
        owner = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 500, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(owner, nullptr);
    }
    void TearDown() override {
        ForgetPackages();
        auto settings = ConfigurationManager::GetInstance();
        settings->productUrl = savedProductUrl;
        settings->offerBaseUrl = savedOfferBaseUrl;
        settings->cancelRequested = false;
        ::DestroyWindow(owner);
    }

    // The main product at productName and one offer per code at <code>.exe,
    // in the test's folder; a name nothing serves fails with 404.
    void Configure(const std::string& productName, const std::vector<std::string>& offerCodes) {
        auto settings = ConfigurationManager::GetInstance();
        settings->productUrl = L"https://127.0.0.1/f/" + Utf8ToWide(folder + productName);
        settings->mainPackage = std::make_shared<Package>(BuildEventTemplate(), true, L"", L"", L"Queue Main", L"", 0);
        int position = 0;
        for (const std::string& code : offerCodes) {
            const json element = {{"ad", {{"f", "tag-" + code}, {"o", code}}},
                                  {"ps",
                                   {{"i", "img/" + code + ".png"},
                                    {"dn", code + " Tool"},
                                    {"u", folder + code + ".exe"},
                                    {"p", "/S"},
                                    {"v", 1},
                                    {"cp", "https://127.0.0.1/site/privacy"},
                                    {"ctu", "https://127.0.0.1/site/eula"}}}};
            auto offer = BuildOffer(BuildEventTemplate(), element, position++);
            ASSERT_NE(offer, nullptr) << code;
            settings->acceptedOffers.push_back(offer);
        }
    }

    void ForgetPackages() {
        auto settings = ConfigurationManager::GetInstance();
        for (const auto& package : Packages()) package->WaitForEvents();
        settings->mainPackage.reset();
        settings->acceptedOffers.clear();
    }

    std::vector<std::shared_ptr<Package>> Packages() const {
        auto settings = ConfigurationManager::GetInstance();
        std::vector<std::shared_ptr<Package>> packages = settings->acceptedOffers;
        if (settings->mainPackage) packages.push_back(settings->mainPackage);
        return packages;
    }

    // Runs the queue on a fresh page until it has ended (or has logged
    // until); then every event the packages started has been delivered.
    std::unique_ptr<RecordingPage> Run(Choices choices, DWORD quietMs = 0, const std::string& until = "",
                                       DWORD timeoutMs = kQueueTimeoutMs) {
        auto page = std::make_unique<RecordingPage>(owner, choices);
        EXPECT_TRUE(page->Create(owner));
        page->OnNavigateToPage();
        const auto done = [&] { return page->ended || (!page->log.empty() && page->log.back() == until); };
        const ULONGLONG end = ::GetTickCount64() + timeoutMs;
        while (!done() && ::GetTickCount64() < end) PumpMessages(20);
        // Whatever the queue would still do after its end shows up here.
        PumpMessages(quietMs);
        for (const auto& package : Packages()) package->WaitForEvents();
        return page;
    }

    // Event bodies by (type, offer code) as the server stored them.
    std::vector<json> EventsOf(const std::string& type, const std::string& code) const {
        std::vector<json> found;
        for (const json& stored : server.Events()) {
            const json event = TestServer::EventData(stored);
            if (event.value("6", "") == type && event.value("5", "") == code) found.push_back(event);
        }
        return found;
    }

    static bool StartsWith(const json& event, const std::string& prefix) {
        return event.at("12").get<std::string>().rfind(prefix, 0) == 0;
    }

    bool Serve(const std::string& name, const std::string& bytes) const {
        return server.WriteServedFile(Utf8ToWide(folder + name), bytes);
    }
    size_t RequestsFor(const std::string& name) const {
        return server.FullRequests(L"/f/" + Utf8ToWide(folder + name)).size();
    }

    TestServer server{L"127.0.0.1"};
    std::string folder;
    HWND owner = nullptr;
    CStringW savedProductUrl;
    CStringW savedOfferBaseUrl;
};

TEST_F(DownloadQueueTest, FetchesInOrderAndAFailedOfferDoesNotStopTheOthers) {
    ASSERT_TRUE(Serve("product.exe", "product bytes"));
    ASSERT_TRUE(Serve("beta.exe", "beta bytes"));
    Configure("product.exe", {"alpha", "beta"});  // alpha is not served
    const auto page = Run({});
    EXPECT_EQ(page->log, (std::vector<std::string>{"transfer main", "downloaded main", "transfer alpha",
                                                   "transfer beta", "downloaded beta", "nothing to install"}));
    ASSERT_EQ(page->downloadedFiles.size(), 2u);
    EXPECT_EQ(ReadFileBytes(page->downloadedFiles[0]).value_or(""), "product bytes");
    EXPECT_EQ(ReadFileBytes(page->downloadedFiles[1]).value_or(""), "beta bytes");

    // Only the failure is the queue's to report; the rest is the page's.
    ASSERT_EQ(server.Events().size(), 1u);
    const std::vector<json> failed = EventsOf("-1", "alpha");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(StartsWith(failed[0], "DOWNLOAD FAILED: ")) << failed[0].dump();
}

TEST_F(DownloadQueueTest, AFailedMainProductStopsTheQueueAndEveryOfferHearsWhy) {
    ASSERT_TRUE(Serve("alpha.exe", "alpha bytes"));
    Configure("missing-product.exe", {"alpha", "beta"});
    const auto page = Run({}, 300);
    EXPECT_EQ(page->log, (std::vector<std::string>{"transfer main", "main not downloaded"}));
    EXPECT_EQ(RequestsFor("alpha.exe"), 0u);

    const std::vector<json> mainFailed = EventsOf("-1", kMainProduct);
    ASSERT_EQ(mainFailed.size(), 1u) << server.Events().dump();
    EXPECT_TRUE(StartsWith(mainFailed[0], "DOWNLOAD FAILED: ")) << mainFailed[0].dump();
    for (const char* code : {"alpha", "beta"}) {
        const std::vector<json> told = EventsOf("-1", code);
        ASSERT_EQ(told.size(), 1u) << code;
        EXPECT_TRUE(StartsWith(told[0], "MAIN PRODUCT DOWNLOAD FAILED: ")) << told[0].dump();
    }
    EXPECT_EQ(server.Events().size(), 3u);
}

TEST_F(DownloadQueueTest, KeptInstallersStartInOrderUnlessTheMainInstallerStopsThem) {
    for (const bool goOn : {true, false}) {
        SCOPED_TRACE(goOn ? "going on after the main installer" : "stopping after the main installer");
        ASSERT_TRUE(server.Reset());
        for (const char* name : {"product.exe", "alpha.exe", "beta.exe"}) ASSERT_TRUE(Serve(name, kNotAProgram));
        Configure("product.exe", {"alpha", "beta"});
        Choices choices;
        choices.keepForInstall = true;
        choices.goOnAfterMainInstaller = goOn;
        const auto page = Run(choices, 300);

        std::vector<std::string> expected = {"transfer main",       "downloaded main", "transfer alpha",
                                             "downloaded alpha",    "transfer beta",   "downloaded beta",
                                             "installers starting", "launch main",     "main installer not started"};
        if (goOn) expected.insert(expected.end(), {"launch alpha", "launch beta", "installers started"});
        EXPECT_EQ(page->log, expected);

        // An offer that cannot start says so with its start error; after a
        // main installer that stops the rest, each says what the page gave.
        for (const char* code : {"alpha", "beta"}) {
            const std::vector<json> failed = EventsOf("-1", code);
            ASSERT_EQ(failed.size(), 1u) << code;
            EXPECT_TRUE(StartsWith(failed[0], goOn ? "EXEC FAILED" : "NOT AFTER THIS MAIN")) << failed[0].dump();
        }
        // The main product's outcome is the page's to report.
        EXPECT_TRUE(EventsOf("-1", kMainProduct).empty());
        ForgetPackages();
    }
}

TEST_F(DownloadQueueTest, AClosedWizardStartsNothingMore) {
    ASSERT_TRUE(Serve("product.exe", kNotAProgram));
    ASSERT_TRUE(Serve("alpha.exe", kNotAProgram));
    Configure("product.exe", {"alpha"});

    // Closed before the page is shown: not even the first transfer.
    ConfigurationManager::GetInstance()->cancelRequested = true;
    auto page = Run({}, 500, "", 0);
    EXPECT_TRUE(page->log.empty());
    EXPECT_EQ(RequestsFor("product.exe"), 0u);
    page.reset();

    // Closed while the first installer starts: that start's outcome and
    // every later step are dropped, and no package says anything more.
    ConfigurationManager::GetInstance()->cancelRequested = false;
    Choices choices;
    choices.keepForInstall = true;
    choices.closeWhileInstallerStarts = true;
    page = Run(choices, 1500, "launch main");
    EXPECT_EQ(page->log, (std::vector<std::string>{"transfer main", "downloaded main", "transfer alpha",
                                                   "downloaded alpha", "installers starting", "launch main"}));
    EXPECT_EQ(server.Events().size(), 0u);
}

}  // namespace
