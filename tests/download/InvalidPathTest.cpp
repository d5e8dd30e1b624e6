// A settings folder that does not exist (the working directory removed while
// a download thread still runs): the download fails the normal way, and no
// message box ever comes from the download thread, where nobody would see it
// once the window has gone.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "download/DownloadManager.h"
#include "core/ConfigurationManager.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/UiDriver.h"

namespace ostrel::testing {
namespace {

class InvalidPath : public DownloadTest {};

TEST_F(InvalidPath, FailsTheDownloadWithoutAMessageBox) {
    Serve({{"path", "/f/a.bin"}, {"size", 1000}});
    auto settings = ConfigurationManager::GetInstance();
    settings->downloadFolder = folders->Downloads() + L"\\gone";

    auto manager = std::make_shared<DownloadManager>();
    // From a worker, as in the wizard.
    std::future<std::pair<bool, CStringW>> download =
        std::async(std::launch::async, &DownloadManager::DownloadFile, manager, host.Url(L"/f/a.bin"), nullptr,
                   L"a.bin", false, std::string());

    // A box would hold the download thread until answered: each one is
    // counted and answered, so a failure never hangs the test.
    UiDriver driver(::GetCurrentProcessId());
    int boxes = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (download.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready &&
           std::chrono::steady_clock::now() < deadline) {
        if (const std::optional<MessageBoxInfo> box = driver.WaitForMessageBox(0)) {
            ++boxes;
            driver.Answer(box->window, IDOK);
            driver.WaitUntil([&] { return !::IsWindow(box->window); }, 5000);
        }
    }
    EXPECT_EQ(boxes, 0);

    ASSERT_EQ(download.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    const auto result = download.get();
    EXPECT_FALSE(result.first);
    const std::wstring noFile = L"Failed to open file for writing: 3 - " + SystemText(ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(result.second, L"[WINHTTP] " + noFile + L" [WININET] " + noFile);
    EXPECT_FALSE(driver.WaitForMessageBox(500)) << "a box after the download";
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
}

}  // namespace
}  // namespace ostrel::testing
