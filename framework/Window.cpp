#include "framework/Window.h"

#include <utility>
#include <vector>

namespace framework {

HWND CWnd::Detach() {
    return std::exchange(hwnd_, nullptr);
}

CStringW CWnd::GetWindowText() const {
    if (!hwnd_) return CStringW();
    const int length = ::GetWindowTextLengthW(hwnd_);
    if (length <= 0) return CStringW();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(hwnd_, buffer.data(), length + 1);
    return CStringW(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void CWnd::SetWindowText(const CStringW& text) const {
    if (hwnd_) ::SetWindowTextW(hwnd_, text.c_str());
}

void CWnd::ShowWindow(int command) const {
    if (hwnd_) ::ShowWindow(hwnd_, command);
}

bool CWnd::IsWindowVisible() const {
    return hwnd_ && ::IsWindowVisible(hwnd_);
}

void CWnd::EnableWindow(bool enable) const {
    if (hwnd_) ::EnableWindow(hwnd_, enable ? TRUE : FALSE);
}

void CWnd::SetFocus() const {
    if (hwnd_) ::SetFocus(hwnd_);
}

void CWnd::Invalidate(bool erase) const {
    if (hwnd_) ::InvalidateRect(hwnd_, nullptr, erase ? TRUE : FALSE);
}

void CWnd::MoveWindow(const RECT& rect) const {
    if (hwnd_) {
        ::SetWindowPos(hwnd_, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

RECT CWnd::GetClientRect() const {
    RECT rect{};
    if (hwnd_) ::GetClientRect(hwnd_, &rect);
    return rect;
}

HWND CWnd::GetDlgItem(int id) const {
    return hwnd_ ? ::GetDlgItem(hwnd_, id) : nullptr;
}

HWND CWnd::GetParent() const {
    return hwnd_ ? ::GetParent(hwnd_) : nullptr;
}

bool CWnd::SetTimer(UINT_PTR id, UINT periodMs) const {
    return hwnd_ && ::SetTimer(hwnd_, id, periodMs, nullptr) != 0;
}

void CWnd::KillTimer(UINT_PTR id) const {
    if (hwnd_) ::KillTimer(hwnd_, id);
}

void CWnd::ModifyStyle(LONG_PTR remove, LONG_PTR add, UINT positionFlags) const {
    if (!hwnd_) return;
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
    const LONG_PTR changed = (style & ~remove) | add;
    if (changed != style) ::SetWindowLongPtrW(hwnd_, GWL_STYLE, changed);
    if (positionFlags != 0) {
        ::SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | positionFlags);
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return hwnd_ ? ::SendMessageW(hwnd_, message, wParam, lParam) : 0;
}

}  // namespace framework
