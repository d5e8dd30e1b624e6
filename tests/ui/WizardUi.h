// Starting the real wizard programs for end-to-end tests.
#pragma once

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/common/TestSupport.h"
#include "tests/support/UiDriver.h"

namespace ostrel::testing {

constexpr DWORD kUiTimeoutMs = 15000;

inline std::wstring WizardPath(const wchar_t* key) {
    return ProgramFolder() + L"\\Ostrel" + key + L".exe";
}

inline std::wstring ShotPath(const std::wstring& name) {
    return ScreenshotFolder() + L"\\" + name;
}

// A copy of a wizard named setup_<token>.exe, so the server answers it with
// the configuration of that download token; removed again afterwards. It is
// placed beside the tests unless another folder is given.
class TokenCopy {
public:
    TokenCopy(const wchar_t* key, const std::wstring& token, const std::wstring& folder = L"") {
        if (token.empty() && folder.empty()) {
            path_ = WizardPath(key);
            return;
        }
        path_ =
            (folder.empty() ? ProgramFolder() : folder) + L"\\setup" + (token.empty() ? L"" : L"_" + token) + L".exe";
        owned_ = ::CopyFileW(WizardPath(key).c_str(), path_.c_str(), FALSE) != FALSE;
    }
    ~TokenCopy() {
        if (owned_) ::DeleteFileW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    bool owned_ = false;
};

// What a wizard is started with besides its name.
struct WizardOptions {
    // "NAME=value" entries added to the wizard's environment; its installers inherit them.
    std::vector<std::wstring> environment;
};

// A started wizard with a driver attached, waited for until its host shows.
struct RunningWizard {
    // A folder given: the wizard's copy lies there and is started in it.
    explicit RunningWizard(const wchar_t* key, const std::wstring& token = L"", const WizardOptions& options = {},
                           const std::wstring& folder = L"")
        : copy(key, token, folder),
          process(WizardProcess::Start(copy.Path(), options.environment)),
          driver(process.Id()) {
        if (process.Started()) host = driver.WaitForHost(kUiTimeoutMs);
    }
    ~RunningWizard() {
        if (process.Started() && !process.WaitForExit(0)) {
            driver.Close();
            // Closing before the end asks first.
            if (!process.WaitForExit(300)) {
                if (const auto box = driver.WaitForMessageBox(1000)) driver.Answer(box->window, IDOK);
            }
            if (!process.WaitForExit(5000)) process.Terminate();
        }
        process.WaitForExit(5000);
    }
    TokenCopy copy;
    WizardProcess process;
    UiDriver driver;
    HWND host = nullptr;
};

// Leaves the language page (optionally in another language) and waits for the
// page that follows; nullptr when either does not show.
inline HWND LeaveLanguagePage(RunningWizard& wizard, const std::wstring& expectedPage, int language = -1) {
    HWND page = wizard.driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    if (!page) return nullptr;
    if (language >= 0) wizard.driver.SelectComboItem(page, IDC_LANGUAGE_LIST, language);
    wizard.driver.Click(page, IDC_NEXT);
    return wizard.driver.WaitForPage(expectedPage, kUiTimeoutMs);
}

}  // namespace ostrel::testing
