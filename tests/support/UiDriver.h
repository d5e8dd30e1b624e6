// Drives the wizard's window from another process, for end-to-end tests.
//
// Everything works through window handles and messages that Windows (and Wine)
// marshal between processes, so the wizard runs unmodified. Actions that a user
// performs (clicks, choosing a list entry, closing) are posted, never sent: the
// wizard may answer them by entering a modal loop (a message box), and a sent
// message would then block the test until that loop ends.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WizardProcess.h"

namespace ostrel::testing {

struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // IDOK, IDCANCEL, IDYES, IDNO, ... in tab order
};

class UiDriver {
public:
    explicit UiDriver(DWORD processId);

    // Waits until the host window exists and is visible; nullptr on timeout.
    HWND WaitForHost(DWORD timeoutMs);
    // The host, visible or not; nullptr while it does not exist.
    HWND Host() const;

    // Waits until the page with that name is the one shown; nullptr on timeout.
    HWND WaitForPage(const std::wstring& pageName, DWORD timeoutMs);
    // The page after `previous` once it has settled: shown alone and answering
    // with its name, which a page cannot while the wizard is still setting it
    // up. nullptr on timeout. The second form also wants that page's name.
    HWND WaitForNextPage(HWND previous, DWORD timeoutMs);
    HWND WaitForNextPage(HWND previous, const std::wstring& pageName, DWORD timeoutMs);
    // The page shown, judged by the page's own visibility so that it still
    // answers while the host is hidden or minimised. nullptr / "" when no page
    // or more than one page is shown.
    HWND CurrentPage() const;
    std::wstring CurrentPageName() const;
    // Names of all pages marked visible, to check that exactly one is.
    std::vector<std::wstring> VisiblePageNames() const;

    // WM_GETTEXT with a timeout, so a hung wizard fails the test instead of
    // hanging it. "" when the window is gone or does not answer.
    std::wstring Text(HWND window) const;
    HWND Control(HWND parent, int id) const;
    std::wstring ControlText(HWND parent, int id) const;
    // Visible on screen: the control and all its parents are visible.
    bool IsControlVisible(HWND parent, int id) const;
    bool IsControlEnabled(HWND parent, int id) const;

    // Posts BM_CLICK. Returns false without clicking when the control is
    // missing, hidden or disabled: a user could not click it either, and a
    // button handles a posted click even when disabled.
    bool Click(HWND parent, int id);

    // Clicks every link of a SysLink control the way a user's mouse does
    // (button down and up at a point of the link), in reading order; returns
    // how many clicks went out. Links are found by asking the control which of
    // its points are links (WM_NCHITTEST marshals between processes, the link
    // messages with pointers do not). Each row of points that crosses a link
    // clicks it, so a link is usually clicked more than once.
    int ClickEveryLink(HWND parent, int id);

    std::vector<std::wstring> ComboItems(HWND parent, int id) const;
    // CB_ERR (-1) when nothing is selected or the control is missing.
    int ComboSelection(HWND parent, int id) const;
    // Selects the entry and posts CBN_SELCHANGE to the combo's parent, as a
    // user's choice would. Returns false when the control is missing, hidden,
    // disabled or the index is out of range.
    bool SelectComboItem(HWND parent, int id, int index);

    // A visible message box of the process: a top-level dialog, not the host,
    // holding the message text (static id 0xFFFF) and otherwise only an icon
    // and standard buttons. That last rule keeps the process's own dialogs
    // (which also use 0xFFFF for unnamed statics) out.
    std::optional<MessageBoxInfo> WaitForMessageBox(DWORD timeoutMs);
    // A visible top-level dialog of the process, other than the host, with that
    // caption (the About box, for one).
    HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs);
    // Posts BM_CLICK on the dialog's button; false under the same rules as Click.
    bool Answer(HWND dialog, int buttonId);

    // Posts WM_SYSCOMMAND to the host, as choosing a system-menu item does.
    bool SystemCommand(UINT command);
    // Whether the host's system menu holds that command. std::nullopt when the
    // menu cannot be read from this process, which under Wine is always: Wine
    // does not share menus between processes. Tests there can only check that
    // SystemCommand opens what the item would.
    std::optional<bool> HasSystemMenuItem(UINT command) const;

    // Posts WM_CLOSE to the host.
    bool Close();

    // Polls the condition every 20 ms; returns its last value.
    bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) const;

    // Saves a PNG of the window as it is on screen, once its pending paints are
    // done (waiting up to 3 s). Anything covering the window shows too. Creates
    // missing folders.
    bool SaveScreenshot(HWND window, const std::wstring& pngPath) const;

private:
    std::vector<HWND> TopLevelDialogs() const;
    bool IsMessageBox(HWND dialog) const;

    DWORD processId_;
    mutable HWND host_ = nullptr;
};

}  // namespace ostrel::testing
