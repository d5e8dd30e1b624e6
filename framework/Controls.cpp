#include "framework/Controls.h"

#include <vector>

namespace framework {

int CComboBox::AddString(const CStringW& text) const {
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

CStringW CComboBox::GetLBText(int index) const {
    const LRESULT length = SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR || length <= 0) return CStringW();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const LRESULT copied =
        SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == CB_ERR || copied < 0) return CStringW();
    return CStringW(buffer.data(), static_cast<size_t>(copied));
}

void CProgressCtrl::SetMarquee(bool on, UINT intervalMs) const {
    if (!hwnd_) return;
    if (on) {
        const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
        if (!(style & PBS_MARQUEE)) ::SetWindowLongPtrW(hwnd_, GWL_STYLE, style | PBS_MARQUEE);
    }
    SendMessage(PBM_SETMARQUEE, on ? TRUE : FALSE, intervalMs);
}

}  // namespace framework
