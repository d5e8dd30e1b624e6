// The download pages' bar and the finish pages' chrome, on pages created in
// this process so their controls can be read directly.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>

#include "download/DownloadMessages.h"
#include "install/DownloadPageDlm.h"
#include "install/DownloadPageIsv.h"
#include "install/FinishPageDlm.h"
#include "install/FinishPageIsv.h"
#include "localisation/LanguageManager.h"
#include "resources/resource.h"
#include "shell/OstrelDlg.h"
#include "tests/window/HostFixture.h"

namespace {

using ostrel::testing::HasMarqueeStyle;

class DownloadAndFinishPages : public ostrel::testing::HostFixture {
protected:
    // Adds the page behind the first two and returns its window.
    HWND AddPage(std::unique_ptr<IPage> page) {
        RECT rect{};
        IPage* raw = page.get();
        host->CreateAndAddPage(std::move(page), rect);
        return raw->GetSafeHwnd();
    }
};

int Position(HWND bar) {
    return static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
}

void CheckBarHandling(HWND page) {
    HWND bar = ::GetDlgItem(page, IDC_PROGRESS);
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(HasMarqueeStyle(bar));

    EXPECT_EQ(::SendMessageW(page, WM_DOWNLOAD_SIZE_UNKNOWN, 0, 0), 0);
    EXPECT_TRUE(HasMarqueeStyle(bar));
    // The first percentage turns it back into a bar at exactly that position.
    EXPECT_EQ(::SendMessageW(page, WM_DOWNLOAD_PROGRESS, 29, 0), 0);
    EXPECT_FALSE(HasMarqueeStyle(bar));
    EXPECT_EQ(Position(bar), 29);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETSTATE, 0, 0), PBST_NORMAL);
    ::SendMessageW(page, WM_DOWNLOAD_PROGRESS, 57, 0);
    EXPECT_EQ(Position(bar), 57);
    // Above 100 means "no idea": a marquee again, until a real value comes.
    ::SendMessageW(page, WM_DOWNLOAD_PROGRESS, 101, 0);
    EXPECT_TRUE(HasMarqueeStyle(bar));
    ::SendMessageW(page, WM_DOWNLOAD_PROGRESS, 100, 0);
    EXPECT_FALSE(HasMarqueeStyle(bar));
    EXPECT_EQ(Position(bar), 100);
}

TEST_F(DownloadAndFinishPages, BothDownloadPagesDriveTheirBarFromTheTransferMessages) {
    CheckBarHandling(AddPage(std::make_unique<DownloadPageDlm>(languages, window)));
    CheckBarHandling(AddPage(std::make_unique<DownloadPageIsv>(languages, window)));
}

TEST_F(DownloadAndFinishPages, DownloadWizardFinishPageStartsOnLaunchAndDropsTheMinimizeBox) {
    HWND page = AddPage(std::make_unique<FinishPageDlm>(languages, window));
    EXPECT_EQ(::SendDlgItemMessageW(page, IDC_LAUNCH_RADIO, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendDlgItemMessageW(page, IDC_OPEN_FOLDER_RADIO, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    ASSERT_NE(::GetWindowLongPtrW(window, GWL_STYLE) & WS_MINIMIZEBOX, 0);
    host->ShowPage(static_cast<unsigned>(host->PageCount() - 1));
    EXPECT_EQ(::GetWindowLongPtrW(window, GWL_STYLE) & WS_MINIMIZEBOX, 0);
    EXPECT_TRUE(::IsWindowVisible(page));
}

TEST_F(DownloadAndFinishPages, InstallerWizardFinishPageKeepsItsCheckBoxHidden) {
    HWND page = AddPage(std::make_unique<FinishPageIsv>(languages, window));
    HWND checkBox = ::GetDlgItem(page, IDC_LAUNCH_CHECKBOX);
    EXPECT_EQ(::SendMessageW(checkBox, BM_GETCHECK, 0, 0), BST_CHECKED);
    host->ShowPage(static_cast<unsigned>(host->PageCount() - 1));
    EXPECT_FALSE(::IsWindowVisible(checkBox));
    EXPECT_EQ(::GetWindowLongPtrW(window, GWL_STYLE) & WS_MINIMIZEBOX, 0);
}

}  // namespace
