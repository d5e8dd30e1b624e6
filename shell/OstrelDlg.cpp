#include "shell/OstrelDlg.h"

#include <string>

#include "framework/MessageBox.h"
#include "api/EventProtocol.h"
#include "api/EventTemplate.h"
#include "localisation/LanguageManager.h"
#include "packages/Package.h"
#include "shell/LanguagePage.h"
#include "offers/LoadingPage.h"
#include "offers/ProductPage.h"
#include "shell/WelcomePage.h"
#include "resources/resource.h"
#include "shell/AboutDlg.h"
#include "core/BuildKey.h"
#include "core/ConfigurationManager.h"
#include "shell/ErrorPage.h"
#include "core/WorkDirectory.h"
#include "download/DownloadManager.h"
#include "install/DownloadPageDlm.h"
#include "install/DownloadPageIsv.h"
#include "install/FinishPageDlm.h"
#include "install/FinishPageIsv.h"

namespace {

bool IsDownloadPage(const CStringW& name) {
    return name == L"DownloadPageDLM" || name == L"DownloadPageISV";
}

bool IsFinishPage(const CStringW& name) {
    return name == L"FinishPageDLM" || name == L"FinishPageISV";
}

}  // namespace

COstrelDlg::COstrelDlg(std::shared_ptr<LanguageManager> manager, HWND parent)
    : framework::CDialog(IDD_OSTREL_DIALOG, parent), languageManager(std::move(manager)) {
    m_hIcon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                              0, 0, LR_DEFAULTSIZE | LR_SHARED));
    MapMessage(WM_LOAD_COMPLETE, [this](WPARAM, LPARAM) { return OnLoadCompleteMessage(); });
    MapMessage(WM_CLOSE, [this](WPARAM, LPARAM) -> LRESULT {
        OnClose();
        return 0;
    });
}

COstrelDlg::~COstrelDlg() {
    // Images held through the settings must go while GDI+ still runs.
    auto settings = ConfigurationManager::GetInstance();
    settings->productImage.Reset();
    for (const auto& offer : settings->acceptedOffers) offer->ReleaseImage();
    for (const auto& offer : settings->shownOffers) offer->ReleaseImage();
    // Events still under way need the settings, which go at process exit.
    if (settings->mainPackage) settings->mainPackage->WaitForEvents();
    for (const auto& offer : settings->shownOffers) offer->WaitForEvents();
    errorPage.reset();
    pages.clear();
    DestroyWindow();
}

BOOL COstrelDlg::OnInitDialog() {
    CenterOnScreen();
    AddAboutToSystemMenu();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    if (!TakeSingleInstanceMutex()) {
        framework::ShowMessageBox(hwnd_, L"Another setup is already running, please close it and try again", L"Error",
                                  MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
        EndDialog(1);
        return FALSE;
    }

    auto settings = ConfigurationManager::GetInstance();
    switch (settings->wizardType) {
    case WizardType::DLM: SetWindowText(L"Setup"); break;
    case WizardType::ISV: SetWindowText(settings->productTitle + L" "); break;
    default:
        framework::ShowMessageBox(hwnd_, L"Invalid wizard type", framework::kApplicationName,
                                  MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
        EndDialog(1);
        return FALSE;
    }

    BindControl(IDC_PRODUCT_TITLE, productTitleText);
    BindControl(IDC_PRODUCT_ICON, productIcon);
    BindControl(IDC_HEADER_RULE, headerRule);
    productTitleText.SetWindowText(settings->productTitle);

    CreateInitialPages();

    if (settings->wizardType == WizardType::ISV) {
        productIcon.ShowWindow(SW_HIDE);
        headerRule.ShowWindow(SW_HIDE);
    }
    productTitleText.ShowWindow(SW_HIDE);
    return TRUE;
}

bool COstrelDlg::TakeSingleInstanceMutex() {
    const CStringW name = L"Global\\Ostrel" +
                          CStringW(BuildKey(), BuildKey() + std::char_traits<char>::length(BuildKey())) +
                          L"SingleInstanceMutex";
    instanceMutex.Reset(::CreateMutexW(nullptr, TRUE, name.c_str()));
    const DWORD error = ::GetLastError();
    if (instanceMutex && error == ERROR_ALREADY_EXISTS) {
        instanceMutex.Reset();
        return false;
    }
    // Without a mutex the wizard runs unprotected rather than not at all.
    return true;
}

void COstrelDlg::AddAboutToSystemMenu() const {
    wchar_t buffer[128] = {};
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, buffer, 128);
    HMENU menu = ::GetSystemMenu(hwnd_, FALSE);
    if (!menu || length <= 0) return;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, buffer);
}

void COstrelDlg::CenterOnScreen() const {
    RECT window{};
    ::GetWindowRect(hwnd_, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    const RECT& work = monitor.rcWork;
    const int x = work.left + ((work.right - work.left) - (window.right - window.left)) / 2;
    const int y = work.top + ((work.bottom - work.top) - (window.bottom - window.top)) / 2;
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT COstrelDlg::PageRect() const {
    RECT rect{};
    ::GetWindowRect(GetDlgItem(IDC_PAGE_AREA), &rect);
    ::MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool COstrelDlg::CreateInitialPages() {
    const RECT rect = PageRect();

    errorPage = std::make_unique<ErrorPage>(languageManager, hwnd_);
    CreatePage(errorPage.get(), rect);

    CreateAndAddPage(std::make_unique<LanguagePage>(languageManager, hwnd_), rect);
    CreateAndAddPage(std::make_unique<LoadingPage>(languageManager, hwnd_), rect);

    auto* loadingPage = static_cast<LoadingPage*>(pages.back().get());
    HWND host = hwnd_;
    std::shared_ptr<LoadedOffers> handOver = loadedPackages;
    loadingPage->SetCompletionCallback([host, handOver](std::vector<std::shared_ptr<Package>> offers) {
        // May run on a picture thread, even after the window is gone: it
        // touches only what it shares and posts to a handle.
        {
            std::lock_guard lock(handOver->mutex);
            handOver->offers = std::move(offers);
        }
        ::PostMessageW(host, WM_LOAD_COMPLETE, 0, 0);
    });

    currentPage = 0;
    if (pages.empty()) return false;
    pages[0]->ShowWindow(SW_SHOW);
    pages[0]->SetFocus();
    return true;
}

LRESULT COstrelDlg::OnLoadCompleteMessage() {
    auto settings = ConfigurationManager::GetInstance();
    languageManager->SetLanguage(settings->languageName);

    const bool downloadWizard = settings->wizardType == WizardType::DLM;
    if (downloadWizard) {
        productIcon.SetImage(settings->productImage.Get());
        productIcon.ShowWindow(SW_SHOW);
        productTitleText.SetWindowText(settings->productTitle);
        SetWindowText(settings->productTitle + L" Setup");
        productTitleText.ShowWindow(SW_SHOW);
    }

    if (settings->mainPackage) {
        try {
            settings->mainPackage->Reinitialize(BuildEventTemplate(),
                                                downloadWizard ? settings->productTitle : settings->wizardId,
                                                settings->offerTag, settings->productTitle, settings->channel);
        } catch (const std::exception&) {
            // Analytics never stop the wizard.
        }
    }

    std::vector<std::shared_ptr<Package>> offers;
    {
        std::lock_guard lock(loadedPackages->mutex);
        offers = loadedPackages->offers;
    }
    const RECT rect = PageRect();
    CreateAndAddPage(std::make_unique<WelcomePageIsv>(languageManager, hwnd_), rect);
    for (const auto& offer : offers) {
        CreateAndAddPage(std::make_unique<ProductPage>(languageManager, offer, hwnd_), rect);
    }
    if (downloadWizard) {
        CreateAndAddPage(std::make_unique<DownloadPageDlm>(languageManager, hwnd_), rect);
        CreateAndAddPage(std::make_unique<FinishPageDlm>(languageManager, hwnd_), rect);
    } else {
        auto downloadPage = std::make_unique<DownloadPageIsv>(languageManager, hwnd_);
        downloadPage->SetInstallStarted([this] { installing = true; });
        downloadPage->SetInstallFinished([this] { installing = false; });
        CreateAndAddPage(std::move(downloadPage), rect);
        CreateAndAddPage(std::make_unique<FinishPageIsv>(languageManager, hwnd_), rect);
    }
    OnPageButton(ButtonType::Next);
    return 0;
}

void COstrelDlg::CreatePage(IPage* page, const RECT& rect) {
    page->Create(hwnd_);
    // The window text carries the page name; a child dialog without caption
    // never shows it, but tools that inspect the wizard can read it.
    page->SetWindowText(page->GetPageName());
    page->SetButtonCallback([this](ButtonType button) { OnPageButton(button); });
    page->ShowWindow(SW_HIDE);
    page->MoveWindow(rect);
}

void COstrelDlg::CreateAndAddPage(std::unique_ptr<IPage> page, const RECT& rect) {
    CreatePage(page.get(), rect);
    page->SetErrorCallback([this](const CStringW& title, const CStringW& text) { ShowError(title, text); });
    pages.push_back(std::move(page));
}

void COstrelDlg::OnPageButton(ButtonType button) {
    switch (button) {
    case ButtonType::Next:
        if (currentPage == 0) CreateMainPackage();
        ShowPage(currentPage + 1);
        break;
    case ButtonType::Accept:
    case ButtonType::Decline: ShowPage(currentPage + 1); break;
    case ButtonType::Close:
    case ButtonType::Finish:
        // Nothing the wizard downloaded for itself may outlive it.
        DeleteWorkDirectory();
        EndDialog(1);
        break;
    default: break;
    }
}

bool COstrelDlg::ConfirmClose() {
    // Nothing to lose once an error is shown, or on the last page.
    const bool lastPage = !pages.empty() && currentPage >= pages.size() - 1 && pages.size() != 2;
    if (errorShown || lastPage) return true;
    const CStringW question = languageManager->GetText(installing ? "PROGRESS_QUIT" : "MSG_EXIT");
    return framework::ShowMessageBox(hwnd_, question, L"", MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

void COstrelDlg::OnClose() {
    if (!ConfirmClose()) return;
    instanceMutex.Reset();
    ShowWindow(SW_HIDE);

    auto settings = ConfigurationManager::GetInstance();
    settings->cancelRequested = true;
    DownloadManager::GetInstance()->cancelled = true;

    SendCloseEvents();
    DeleteWorkDirectory();
    EndDialog(IDCANCEL);
}

void COstrelDlg::SendCloseEvents() {
    // The close is the last word of every package the user has seen. All
    // go out before the first wait, so a slow analytics host costs the
    // closing wizard one delivery, not one per package.
    auto settings = ConfigurationManager::GetInstance();
    std::vector<std::shared_ptr<Package>> packages = settings->shownOffers;
    if (settings->mainPackage) packages.push_back(settings->mainPackage);
    for (const auto& package : packages) package->SendEvent(EventType::Closed, nullptr);
    for (const auto& package : packages) package->WaitForEvents();
}

void COstrelDlg::OnCancel() {
    // Escape is one more way of closing the window: the same question, and
    // transfers stopped and last events sent before the window goes.
    OnClose();
}

void COstrelDlg::CreateMainPackage() {
    auto settings = ConfigurationManager::GetInstance();
    // Before the configuration is loaded only the installer wizard knows its product.
    const bool installer = settings->wizardType == WizardType::ISV;
    try {
        auto package = std::make_shared<Package>(
            BuildEventTemplate(), true, installer ? settings->wizardId : CStringW(),
            installer ? settings->offerTag : CStringW(), installer ? settings->productTitle : CStringW(),
            installer ? settings->channel : CStringW(), 0);
        settings->mainPackage = package;
        package->SendEvent(EventType::Started, nullptr);
    } catch (const std::exception&) {
        // Analytics never stop the wizard.
    }
}

void COstrelDlg::ShowPage(unsigned index) {
    if (index >= pages.size()) return;
    pages[index]->ShowWindow(SW_SHOW);
    pages[index]->SetFocus();
    if (currentPage < pages.size() && currentPage != index) pages[currentPage]->ShowWindow(SW_HIDE);
    currentPage = index;
    pages[index]->OnNavigateToPage();

    const CStringW name = pages[index]->GetPageName();
    if (IsDownloadPage(name)) {
        RemoveCloseCommand();
    } else if (IsFinishPage(name)) {
        RestoreCloseCommand();
    }
    ::OutputDebugStringW((name + L"\n").c_str());
}

void COstrelDlg::ShowError(const CStringW& title, const CStringW& text) {
    if (currentPage < pages.size()) pages[currentPage]->ShowWindow(SW_HIDE);
    errorPage->SetTitle(title);
    errorPage->UpdateControls();
    errorPage->SetText(text);
    errorPage->UpdateControls();
    errorPage->ShowWindow(SW_SHOW);
    errorPage->SetFocus();
    errorShown = true;
    RestoreCloseCommand();
}

void COstrelDlg::RemoveCloseCommand() const {
    if (HMENU menu = ::GetSystemMenu(hwnd_, FALSE)) ::DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
}

void COstrelDlg::RestoreCloseCommand() const {
    HMENU menu = ::GetSystemMenu(hwnd_, FALSE);
    if (!menu) return;
    if (::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) == static_cast<UINT>(-1)) {
        ::AppendMenuW(menu, MF_STRING, SC_CLOSE, L"Close");
    }
}

INT_PTR COstrelDlg::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            CAboutDlg about(hwnd_);
            about.DoModal();
            return TRUE;
        }
        return FALSE;
    case WM_PAINT: return PaintMinimizedIcon() ? TRUE : FALSE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
    default: return framework::CDialog::DialogProc(message, wParam, lParam);
    }
}

bool COstrelDlg::PaintMinimizedIcon() {
    if (!::IsIconic(hwnd_)) return false;
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd_, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    const RECT client = GetClientRect();
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(hwnd_, &paint);
    return true;
}
