// Starting the real wizard programs for end-to-end tests.
#pragma once

#include <string>

#include "tests/common/TestSupport.h"
#include "tests/driver/UiDriver.h"

namespace ostrel::testing {

constexpr DWORD kUiTimeoutMs = 15000;

inline std::wstring WizardPath(const wchar_t* key) {
    return ProgramFolder() + L"\\Ostrel" + key + L".exe";
}

inline std::wstring ShotPath(const std::wstring& name) {
    return ScreenshotFolder() + L"\\" + name;
}

// A started wizard with a driver attached, waited for until its host shows.
struct RunningWizard {
    explicit RunningWizard(const wchar_t* key)
        : process(WizardProcess::Start(WizardPath(key))), driver(process.Id()) {
        if (process.Started()) host = driver.WaitForHost(kUiTimeoutMs);
    }
    ~RunningWizard() {
        if (process.Started() && !process.WaitForExit(0)) {
            driver.Close();
            if (!process.WaitForExit(5000)) process.Terminate();
        }
    }
    WizardProcess process;
    UiDriver driver;
    HWND host = nullptr;
};

}  // namespace ostrel::testing
