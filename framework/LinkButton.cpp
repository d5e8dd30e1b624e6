#include "framework/LinkButton.h"

#include <vector>

namespace framework {

CLinkButton::~CLinkButton() {
    Detach();
    if (underlinedFont) ::DeleteObject(underlinedFont);
}

void CLinkButton::Attach(HWND hwnd) {
    CSubclassedWnd::Attach(hwnd);
    if (!hwnd_) return;
    // Owner drawing lets the button keep its keyboard and click behaviour
    // while looking like a link.
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
    ::SetWindowLongPtrW(hwnd_, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
}

HFONT CLinkButton::LinkFont() {
    if (underlinedFont) return underlinedFont;
    auto base = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    LOGFONTW font{};
    if (!base || !::GetObjectW(base, sizeof(font), &font)) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        font = metrics.lfMessageFont;
    }
    font.lfUnderline = TRUE;
    underlinedFont = ::CreateFontIndirectW(&font);
    return underlinedFont;
}

void CLinkButton::SizeToContent() {
    if (!hwnd_) return;
    const CStringW text = GetWindowText();
    HDC dc = ::GetDC(hwnd_);
    HGDIOBJ old = ::SelectObject(dc, LinkFont());
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd_, dc);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, size.cx + 2, size.cy + 2, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CLinkButton::Open() const {
    if (opener && !url.empty()) opener(url);
}

void CLinkButton::Paint() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd_, &paint);
    RECT client = GetClientRect();
    HWND parent = ::GetParent(hwnd_);
    auto brush = reinterpret_cast<HBRUSH>(
        ::SendMessageW(parent, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd_)));
    ::FillRect(dc, &client, brush ? brush : ::GetSysColorBrush(COLOR_BTNFACE));
    ::SetBkMode(dc, TRANSPARENT);
    // The usual link blue; the system's hot-light colour is too pale on some themes.
    ::SetTextColor(dc, RGB(0, 102, 204));
    HGDIOBJ old = ::SelectObject(dc, LinkFont());
    const CStringW text = GetWindowText();
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (::GetFocus() == hwnd_) ::DrawFocusRect(dc, &client);
    ::SelectObject(dc, old);
    ::EndPaint(hwnd_, &paint);
}

bool CLinkButton::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_PAINT:
        Paint();
        result = 0;
        return true;
    case WM_SETCURSOR:
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        result = TRUE;
        return true;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: Invalidate(false); return false;
    default: return false;
    }
}

}  // namespace framework
