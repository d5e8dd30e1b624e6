// Dialogs built from dialog templates: modal top-level dialogs with their own
// message loop, and child dialogs (pages) hosted inside another dialog.
// Commands, notifications, timers and custom messages are routed to handlers
// registered per control id, notification code, timer id or message.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <utility>

#include "framework/Window.h"

namespace framework {

class CDialog : public CWnd {
public:
    using CommandHandler = std::function<void()>;
    using NotifyHandler = std::function<LRESULT(NMHDR*)>;
    using MessageHandler = std::function<LRESULT(WPARAM, LPARAM)>;
    using TimerHandler = std::function<void()>;

    CDialog(UINT templateId, HWND parent);
    ~CDialog() override;

    // Runs the dialog modally: the owner is disabled, and the call returns the
    // value given to EndDialog once the dialog has been closed.
    INT_PTR DoModal();
    // Creates the dialog window without showing it (pages and modeless use).
    bool Create(HWND parent);
    void DestroyWindow();
    void EndDialog(INT_PTR result);
    bool IsEnded() const { return ended_; }
    INT_PTR Result() const { return result_; }

    // Handlers for one control's command code, one control's notification
    // code, one timer id or one window message.
    void MapCommand(int id, WORD code, CommandHandler handler);
    void MapNotify(int id, UINT code, NotifyHandler handler);
    void MapTimer(UINT_PTR id, TimerHandler handler);
    void MapMessage(UINT message, MessageHandler handler);

    // Lets nested dialogs handle their own keyboard navigation, innermost first.
    static bool PreTranslateDialogMessage(MSG& message);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Dialog procedure: the default routes to the handlers registered above.
    virtual INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Binds a control of this dialog to a control object (data exchange).
    void BindControl(int id, CWnd& control) const;

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR RouteCommand(WPARAM wParam);
    INT_PTR RouteNotify(LPARAM lParam);
    void SetMessageResult(LRESULT result) const;

    UINT templateId_;
    HWND parent_;
    bool modal_ = false;
    bool ended_ = false;
    INT_PTR result_ = 0;
    std::map<std::pair<int, WORD>, CommandHandler> commands_;
    std::map<std::pair<int, UINT>, NotifyHandler> notifications_;
    std::map<UINT_PTR, TimerHandler> timers_;
    std::map<UINT, MessageHandler> messages_;
};

}  // namespace framework
