// A control whose window procedure this program extends (painting, cursor).
// The subclass is installed on Attach and removed on Detach or destruction.
#pragma once

#include <windows.h>

#include "framework/Window.h"

namespace framework {

class CSubclassedWnd : public CWnd {
public:
    CSubclassedWnd() = default;
    ~CSubclassedWnd() override;

    void Attach(HWND hwnd) override;
    HWND Detach() override;

protected:
    // Handle a message; return false to let the control's own procedure run.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
};

}  // namespace framework
