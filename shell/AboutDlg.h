// The About box opened from the host's system menu.
#pragma once

#include "framework/Dialog.h"

class CAboutDlg : public framework::CDialog {
public:
    explicit CAboutDlg(HWND parent);

protected:
    BOOL OnInitDialog() override;
};
