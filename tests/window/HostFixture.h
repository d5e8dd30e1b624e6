// A wizard host created in this test process, so tests can reach its pages
// and controls directly.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "localisation/LanguageManager.h"
#include "shell/OstrelDlg.h"
#include "tests/common/TestSupport.h"

namespace ostrel::testing {

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        languages = std::make_shared<LanguageManager>();
        host = std::make_unique<COstrelDlg>(languages);
        ASSERT_TRUE(host->Create(nullptr));
        window = host->GetSafeHwnd();
        ::ShowWindow(window, SW_SHOW);
        PumpMessages(100);
    }
    void TearDown() override {
        host.reset();
        PumpMessages(20);
    }

    std::shared_ptr<LanguageManager> languages;
    std::unique_ptr<COstrelDlg> host;
    HWND window = nullptr;
};

}  // namespace ostrel::testing
