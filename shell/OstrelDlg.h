// The wizard's only top-level window. It owns every page, shows one at a
// time on the page area, moves on when a page reports a button, shows the
// error page when a page reports an error, and keeps header and title current.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "shell/IPage.h"
#include "shell/StaticFromImage.h"

class ErrorPage;
class LanguageManager;
class Package;

// Posted by the loading page's completion callback.
constexpr UINT WM_LOAD_COMPLETE = WM_USER + 3;

class COstrelDlg : public framework::CDialog {
public:
    COstrelDlg(std::shared_ptr<LanguageManager> languageManager, HWND parent = nullptr);
    ~COstrelDlg() override;

    bool CreateInitialPages();
    void CreatePage(IPage* page, const RECT& rect);
    void CreateAndAddPage(std::unique_ptr<IPage> page, const RECT& rect);
    void OnPageButton(ButtonType button);
    void ShowPage(unsigned index);
    void ShowError(const CStringW& title, const CStringW& text);
    LRESULT OnLoadCompleteMessage();

    bool ErrorShown() const { return errorShown; }
    size_t PageCount() const { return pages.size(); }
    unsigned CurrentPageIndex() const { return currentPage; }

protected:
    BOOL OnInitDialog() override;
    // Enter never ends the wizard.
    void OnOK() override {}
    void OnCancel() override;
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool TakeSingleInstanceMutex();
    void CenterOnScreen() const;
    RECT PageRect() const;
    void AddAboutToSystemMenu() const;
    void RemoveCloseCommand() const;
    void RestoreCloseCommand() const;
    bool PaintMinimizedIcon();
    void CreateMainPackage();
    bool ConfirmClose();
    void OnClose();
    void SendCloseEvents();

    HICON m_hIcon = nullptr;  // shared icon: owned by the system
    std::vector<std::unique_ptr<IPage>> pages;
    unsigned currentPage = 0;
    std::unique_ptr<ErrorPage> errorPage;
    std::shared_ptr<LanguageManager> languageManager;
    bool errorShown = false;
    bool installing = false;
    framework::CStatic productTitleText;
    CStaticFromImage productIcon;
    framework::CStatic headerRule;
    // The eligible offers, handed over by the loading page's completion.
    struct LoadedOffers {
        std::mutex mutex;
        std::vector<std::shared_ptr<Package>> offers;
    };
    std::shared_ptr<LoadedOffers> loadedPackages = std::make_shared<LoadedOffers>();
    framework::UniqueKernelHandle instanceMutex;
};
