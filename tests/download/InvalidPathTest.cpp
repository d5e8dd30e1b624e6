// A settings folder that does not exist: the "Invalid path" box, once per
// stage, answered here the way a user would, and a failed download.
#include <gtest/gtest.h>

#include <future>

#include "download/DownloadManager.h"
#include "shell/ConfigurationManager.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/driver/UiDriver.h"

namespace ostrel::testing {
namespace {

class InvalidPath : public DownloadTest {};

TEST_F(InvalidPath, IsShownOncePerStageAndTheDownloadFails) {
    Serve({{"path", "/f/a.bin"}, {"size", 1000}});
    auto settings = ConfigurationManager::GetInstance();
    settings->downloadFolder = folders->Downloads() + L"\\gone";

    auto manager = std::make_shared<DownloadManager>();
    // The boxes come from the worker, as they do in the wizard; this thread answers them.
    std::future<std::pair<bool, CStringW>> download = std::async(
        std::launch::async, &DownloadManager::DownloadFile, manager, host.Url(L"/f/a.bin"), nullptr, L"a.bin", false);

    UiDriver driver(::GetCurrentProcessId());
    for (int stage = 1; stage <= 2; ++stage) {
        const std::optional<MessageBoxInfo> box = driver.WaitForMessageBox(10000);
        ASSERT_TRUE(box) << "no box for stage " << stage;
        EXPECT_EQ(box->text, L"Invalid path");
        EXPECT_EQ(box->caption, L"Ostrel");
        EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
        ASSERT_TRUE(driver.Answer(box->window, IDOK));
        ASSERT_TRUE(driver.WaitUntil([&] { return !::IsWindow(box->window); }, 5000));
    }

    ASSERT_EQ(download.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto result = download.get();
    EXPECT_FALSE(result.first);
    const std::wstring noFile = L"Failed to open file for writing: 3 - " + SystemText(ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(result.second, L"[WINHTTP] " + noFile + L" [WININET] " + noFile);
    EXPECT_FALSE(driver.WaitForMessageBox(500)) << "a third box";
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
}

}  // namespace
}  // namespace ostrel::testing
