// Non-owning wrapper around a window handle: the small set of window calls
// the pages and the host use, with wide strings in and out.
#pragma once

#include <windows.h>

#include "framework/Strings.h"

namespace framework {

class CWnd {
public:
    CWnd() = default;
    explicit CWnd(HWND hwnd) : hwnd_(hwnd) {}
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    HWND GetSafeHwnd() const { return hwnd_; }

    // Binds an existing window (a control of a dialog) to this object.
    virtual void Attach(HWND hwnd) { hwnd_ = hwnd; }
    virtual HWND Detach();

    CStringW GetWindowText() const;
    void SetWindowText(const CStringW& text) const;
    void ShowWindow(int command) const;
    bool IsWindowVisible() const;
    void EnableWindow(bool enable) const;
    void SetFocus() const;
    void Invalidate(bool erase = true) const;
    void MoveWindow(const RECT& rect) const;
    RECT GetClientRect() const;
    HWND GetDlgItem(int id) const;
    HWND GetParent() const;

    // Timers post WM_TIMER to this window; a dialog routes them by id.
    bool SetTimer(UINT_PTR id, UINT periodMs) const;
    void KillTimer(UINT_PTR id) const;
    // Removes and adds window styles; a frame change makes the caption follow.
    void ModifyStyle(LONG_PTR remove, LONG_PTR add, UINT positionFlags = 0) const;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

protected:
    HWND hwnd_ = nullptr;
};

}  // namespace framework
