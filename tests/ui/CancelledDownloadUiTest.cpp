// Closing the download wizard while its product is still coming: the
// transfer stops, no second transfer starts behind the user's back, and
// nothing lands in the user's download folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/common/TestSupport.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;

// Where the file host serves the product.
constexpr wchar_t kServedPath[] = L"/f/e2e/slow-kestrel.exe";

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const FolderEntry& entry : ListFolder(folder + L"\\*")) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

// What the product is called in the download folder.
constexpr wchar_t kProductFile[] = L"Slow Kestrel Setup.exe";

class CancelledDownload : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        productPath = DownloadsFolder() + L"\\" + kProductFile;
        ::DeleteFileW(productPath.c_str());
    }
    // Also when a check failed: the download folder is the user's own.
    void TearDown() override {
        ::DeleteFileW(productPath.c_str());
        InstallFlow::TearDown();
    }

    std::wstring productPath;
};

TEST_F(CancelledDownload, ClosingDuringTheProductDownloadLeavesNothingInDownloads) {
    // About four seconds of delivery: long enough to close in the middle of it,
    // short enough that a transfer nobody stopped would still end within the test.
    ASSERT_TRUE(server.SetFile(
        {{"path", "/f/e2e/slow-kestrel.exe"}, {"size", 400000}, {"chunkBytes", 16384}, {"chunkDelayMs", 150}}));
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-canc", R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/e2e/slow-kestrel.exe",)"
                    R"("cf":"Slow Kestrel Setup.exe"},"f":{"m":3},"o":[]})"));
    const std::wstring downloads = DownloadsFolder();
    const std::vector<std::wstring> before = NamesIn(downloads);

    RunningWizard wizard(L"DLM", L"dl-canc", Options());
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    ASSERT_NE(WalkOffers(wizard, welcome, {}, L"DownloadPageDLM"), nullptr) << Describe(wizard);
    ASSERT_TRUE(driver.WaitUntil([&] { return server.FullRequests(kServedPath).size() == 1; }, kUiTimeoutMs));

    ASSERT_TRUE(driver.Close());
    const auto box = driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs)) << Describe(wizard);

    // One request: the transfer stopped at its next read and no second one
    // followed. Nothing new in the download folder, not even a partial file.
    EXPECT_EQ(server.FullRequests(kServedPath).size(), 1u);
    EXPECT_EQ(NamesIn(downloads), before);
    // The close still sends the product's last word.
    EXPECT_FALSE(FindEvent(StoredEvents(2), "5", "Kestrel Viewer").is_null());
}

}  // namespace
