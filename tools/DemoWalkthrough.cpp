// Walks through the pages both wizards can show so far, the way a user
// would, and saves a screenshot of each. Used by the demo when no display
// is available to watch the wizard.
//
//   ostrel_demo.exe <screenshot folder>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/driver/UiDriver.h"

namespace {

using ostrel::testing::UiDriver;
using ostrel::testing::WizardProcess;

constexpr DWORD kTimeoutMs = 15000;

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

bool WalkThrough(const wchar_t* key, const std::wstring& folder) {
    const std::wstring prefix = std::wstring(key) == L"DLM" ? L"dlm-" : L"isv-";
    WizardProcess wizard = WizardProcess::Start(ProgramFolder() + L"\\Ostrel" + key + L".exe");
    if (!wizard.Started()) return false;
    UiDriver driver(wizard.Id());
    HWND host = driver.WaitForHost(kTimeoutMs);
    HWND page = driver.WaitForPage(L"LanguagePage", kTimeoutMs);
    if (!host || !page) return false;

    bool ok = true;
    const std::vector<std::wstring> languages = driver.ComboItems(page, IDC_LANGUAGE_LIST);
    for (int index = 0; index < static_cast<int>(languages.size()); ++index) {
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

    driver.Click(page, IDC_NEXT);
    if (driver.WaitForPage(L"LoadingPage", kTimeoutMs)) ok &= Shot(driver, host, folder, prefix + L"loading-page");

    driver.Close();
    if (!wizard.WaitForExit(kTimeoutMs)) wizard.Terminate();
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: ostrel_demo.exe <screenshot folder>\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    bool ok = WalkThrough(L"DLM", folder);
    ok &= WalkThrough(L"ISV", folder);
    return ok ? 0 : 1;
}
