// Walks through the pages of a wizard the way a user would, and saves a
// screenshot of each. Used by the demo when no display
// is available to watch the wizard.
//
//   ostrel_demo.exe DLM|ISV <screenshot folder> <installer run record>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/UiDriver.h"

namespace {

using ostrel::testing::UiDriver;
using ostrel::testing::WizardProcess;

constexpr DWORD kTimeoutMs = 15000;
constexpr DWORD kDownloadTimeoutMs = 120000;

// The wizards are built next to this program.
std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

bool Shot(const UiDriver& driver, HWND window, const std::wstring& folder, const std::wstring& name) {
    const bool saved = driver.SaveScreenshot(window, folder + L"\\" + name + L".png");
    std::wprintf(L"%ls %ls\n", saved ? L"saved" : L"FAILED", name.c_str());
    return saved;
}

bool WalkThrough(const std::wstring& key, const std::wstring& folder, const std::wstring& runRecord) {
    const std::wstring prefix = key == L"DLM" ? L"dlm-" : L"isv-";
    // The demo's installers note each run there.
    WizardProcess wizard =
        WizardProcess::Start(ProgramFolder() + L"\\Ostrel" + key + L".exe", {L"OSTREL_SAMPLE_RECORD=" + runRecord});
    if (!wizard.Started()) return false;
    UiDriver driver(wizard.Id());
    HWND host = driver.WaitForHost(kTimeoutMs);
    HWND page = driver.WaitForPage(L"LanguagePage", kTimeoutMs);
    if (!host || !page) return false;

    bool ok = true;
    const std::vector<std::wstring> languages = driver.ComboItems(page, IDC_LANGUAGE_LIST);
    for (int index = static_cast<int>(languages.size()) - 1; index >= 0; --index) {
        driver.SelectComboItem(page, IDC_LANGUAGE_LIST, index);
        ::Sleep(200);
        ok &= Shot(driver, host, folder, prefix + L"language-page-" + std::to_wstring(index));
    }

    driver.SystemCommand(IDM_ABOUTBOX);
    if (HWND about = driver.WaitForDialog(L"About Ostrel", kTimeoutMs)) {
        ok &= Shot(driver, about, folder, prefix + L"about-box");
        driver.Answer(about, IDOK);
        driver.WaitUntil([&] { return !::IsWindow(about); }, kTimeoutMs);
    }

    // English from here on; the offer pages alternate accepting and declining.
    driver.Click(page, IDC_NEXT);
    HWND welcome = driver.WaitForPage(L"WelcomePage", kTimeoutMs);
    if (!welcome) {
        std::wprintf(L"FAILED: no welcome page (now on \"%ls\")\n", driver.CurrentPageName().c_str());
        driver.Close();
        return false;
    }
    ::Sleep(300);
    ok &= Shot(driver, host, folder, prefix + L"welcome-page");
    driver.Click(welcome, IDC_NEXT);
    HWND previous = welcome;
    for (int offer = 1;; ++offer) {
        HWND current = driver.WaitForNextPage(previous, 3000);
        if (!current || driver.Text(current) != L"ProductPage") break;
        ::Sleep(200);
        ok &= Shot(driver, host, folder, prefix + L"offer-page-" + std::to_wstring(offer));
        const bool accept = offer % 2 == 1;
        std::wprintf(L"offer %d: %ls\n", offer, accept ? L"accepted" : L"declined");
        driver.Click(current, accept ? IDC_ACCEPT : IDC_DECLINE);
        previous = current;
    }

    // The downloads, the installers, then the finish page.
    const std::wstring downloadPage = L"DownloadPage" + key;
    // Local downloads may be over before the page could be photographed.
    if (driver.WaitForPage(downloadPage, kTimeoutMs) && driver.CurrentPageName() == downloadPage) {
        ok &= Shot(driver, host, folder, prefix + L"download-page");
    }
    HWND finish = driver.WaitForPage(L"FinishPage" + key, kDownloadTimeoutMs);
    if (!finish) {
        std::wprintf(L"FAILED: no finish page (now on \"%ls\")\n", driver.CurrentPageName().c_str());
        if (driver.CurrentPageName() == L"ErrorPage") ok &= Shot(driver, host, folder, prefix + L"error-page");
        driver.Close();
        if (!wizard.WaitForExit(kTimeoutMs)) wizard.Terminate();
        return false;
    }
    ::Sleep(300);
    ok &= Shot(driver, host, folder, prefix + L"finish-page");
    // Finish launches the downloaded product (download wizard) and ends the wizard.
    driver.Click(finish, IDC_FINISH);
    if (!wizard.WaitForExit(kTimeoutMs)) {
        std::wprintf(L"FAILED: the wizard did not end on Finish\n");
        wizard.Terminate();
        return false;
    }
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fwprintf(stderr, L"usage: ostrel_demo.exe DLM|ISV <screenshot folder> <installer run record>\n");
        return 2;
    }
    return WalkThrough(argv[1], argv[2], argv[3]) ? 0 : 1;
}
