// Thin wrappers over the standard controls the pages use. They own nothing:
// the dialog that holds a control destroys it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/Window.h"

namespace framework {

class CStatic : public CWnd {};

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int state) const { SendMessage(BM_SETCHECK, static_cast<WPARAM>(state)); }
};

class CComboBox : public CWnd {
public:
    void ResetContent() const { SendMessage(CB_RESETCONTENT); }
    int AddString(const CStringW& text) const;
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int index) const { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
    CStringW GetLBText(int index) const;
};

class CProgressCtrl : public CWnd {
public:
    void SetRange(int lower, int upper) const { SendMessage(PBM_SETRANGE32, lower, upper); }
    void SetPos(int position) const { SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)); }
    // Marquee animation needs the marquee style; it is switched on here so a
    // template can keep the smooth style for determinate progress.
    void SetMarquee(bool on, UINT intervalMs) const;
};

// SysLink control: markup with <a href="..."> anchors; clicks arrive as
// NM_CLICK / NM_RETURN notifications carrying the anchor's URL.
class CLinkCtrl : public CWnd {};

}  // namespace framework
