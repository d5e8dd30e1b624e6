#include "framework/Dialog.h"

namespace framework {
namespace {

// Marks windows that are dialogs of this layer, so the message loop can find
// the innermost one under the focus.
constexpr wchar_t kDialogProperty[] = L"Ostrel.Dialog";

HINSTANCE ModuleInstance() {
    return ::GetModuleHandleW(nullptr);
}

bool IsInputMessage(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

}  // namespace

CDialog::CDialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {
}

CDialog::~CDialog() {
    DestroyWindow();
}

bool CDialog::Create(HWND parent) {
    parent_ = parent;
    HWND created = ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(templateId_), parent,
                                        &CDialog::StaticDialogProc, reinterpret_cast<LPARAM>(this));
    return created != nullptr;
}

void CDialog::DestroyWindow() {
    if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

INT_PTR CDialog::DoModal() {
    ended_ = false;
    result_ = -1;
    modal_ = true;
    HWND owner = parent_;
    if (!Create(owner)) {
        modal_ = false;
        return -1;
    }
    // The dialog may already have ended inside its initialisation.
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (!ended_) {
        if (disableOwner) ::EnableWindow(owner, FALSE);
        ::ShowWindow(hwnd_, SW_SHOW);
        MSG message;
        while (!ended_) {
            const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
            if (got == -1) break;
            if (got == 0) {
                // Hand the quit request on to the loop further out.
                ::PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (!PreTranslateDialogMessage(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    }
    if (disableOwner) {
        ::EnableWindow(owner, TRUE);
        // Give activation back before the dialog disappears, so the owner
        // does not drop behind other applications.
        if (hwnd_ && ::GetActiveWindow() == hwnd_) ::SetActiveWindow(owner);
    }
    DestroyWindow();
    modal_ = false;
    return result_;
}

void CDialog::EndDialog(INT_PTR result) {
    result_ = result;
    ended_ = true;
    if (modal_ && hwnd_) {
        ::ShowWindow(hwnd_, SW_HIDE);
        // Wake the modal loop so it notices the end.
        ::PostMessageW(hwnd_, WM_NULL, 0, 0);
    }
}

bool CDialog::PreTranslateDialogMessage(MSG& message) {
    if (!IsInputMessage(message.message)) return false;
    for (HWND window = message.hwnd; window;) {
        if (::GetPropW(window, kDialogProperty) && ::IsDialogMessageW(window, &message)) return true;
        if (!(::GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)) break;
        window = ::GetParent(window);
    }
    return false;
}

void CDialog::MapCommand(int id, WORD code, CommandHandler handler) {
    commands_[{id, code}] = std::move(handler);
}

void CDialog::MapNotify(int id, UINT code, NotifyHandler handler) {
    notifications_[{id, code}] = std::move(handler);
}

void CDialog::MapTimer(UINT_PTR id, TimerHandler handler) {
    timers_[id] = std::move(handler);
}

void CDialog::MapMessage(UINT message, MessageHandler handler) {
    messages_[message] = std::move(handler);
}

void CDialog::BindControl(int id, CWnd& control) const {
    control.Attach(GetDlgItem(id));
}

void CDialog::SetMessageResult(LRESULT result) const {
    ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
}

INT_PTR CALLBACK CDialog::StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        ::SetPropW(hwnd, kDialogProperty, reinterpret_cast<HANDLE>(1));
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        ::RemovePropW(hwnd, kDialogProperty);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
        return FALSE;
    }
    return self->DialogProc(message, wParam, lParam);
}

INT_PTR CDialog::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_COMMAND: return RouteCommand(wParam);
    case WM_NOTIFY: return RouteNotify(lParam);
    case WM_TIMER: {
        const auto found = timers_.find(wParam);
        if (found == timers_.end()) return FALSE;
        // Copy: the handler may remap or kill its own timer.
        TimerHandler handler = found->second;
        handler();
        return TRUE;
    }
    default: break;
    }
    const auto found = messages_.find(message);
    if (found == messages_.end()) return FALSE;
    MessageHandler handler = found->second;
    SetMessageResult(handler(wParam, lParam));
    return TRUE;
}

INT_PTR CDialog::RouteCommand(WPARAM wParam) {
    const int id = LOWORD(wParam);
    const WORD code = HIWORD(wParam);
    const auto found = commands_.find({id, code});
    if (found != commands_.end()) {
        CommandHandler handler = found->second;
        handler();
        return TRUE;
    }
    if (id == IDOK && (code == BN_CLICKED || code == 0)) {
        OnOK();
        return TRUE;
    }
    if (id == IDCANCEL && (code == BN_CLICKED || code == 0)) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

INT_PTR CDialog::RouteNotify(LPARAM lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (!header) return FALSE;
    const auto found = notifications_.find({static_cast<int>(header->idFrom), header->code});
    if (found == notifications_.end()) return FALSE;
    NotifyHandler handler = found->second;
    SetMessageResult(handler(header));
    return TRUE;
}

}  // namespace framework
