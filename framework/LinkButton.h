// A button drawn as a hyperlink: underlined link-coloured text, a hand
// cursor, and a URL opened when clicked.
#pragma once

#include <windows.h>

#include <functional>

#include "framework/SubclassedWindow.h"

namespace framework {

class CLinkButton : public CSubclassedWnd {
public:
    using Opener = std::function<bool(const CStringW&)>;

    CLinkButton() = default;
    ~CLinkButton() override;

    void Attach(HWND hwnd) override;
    void SetURL(const CStringW& address) { url = address; }
    // What opens the URL on a click (the owner decides which URLs are allowed).
    void SetOpener(Opener open) { opener = std::move(open); }
    // Resizes the control to its text.
    void SizeToContent();
    // The click, as a user's would be: opens the URL.
    void Open() const;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void Paint();
    HFONT LinkFont();

    CStringW url;
    Opener opener;
    HFONT underlinedFont = nullptr;
};

}  // namespace framework
