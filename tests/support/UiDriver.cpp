#include "UiDriver.h"

#include <utility>

#include "WindowQueries.h"

namespace ostrel::testing {

namespace {

// Long enough for a busy wizard to answer, short enough that a hung one fails
// the test instead of stalling the whole run.
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollIntervalMs = 20;
constexpr int kPageAreaId = 1014;
// Unnamed statics: 0xFFFF from a DLGTEMPLATE (WORD ids), -1 from a DLGTEMPLATEEX.
constexpr int kUnnamedId = 0xFFFF;

bool IsUnnamedId(int id) {
    return id == kUnnamedId || id == -1;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name, length > 0 ? length : 0);
}

bool IsDialogClass(HWND window) {
    return ClassName(window) == L"#32770";
}

bool HasStyle(HWND window, LONG_PTR style) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & style) == style;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

// A user can only click a control that is shown and that neither it nor any
// window it sits in is disabled (a modal dialog disables the host but not the
// host's controls).
bool UserCanReach(HWND control) {
    if (control == nullptr || !IsWindowVisible(control)) return false;
    for (HWND window = control; window != nullptr; window = GetAncestor(window, GA_PARENT)) {
        if (!IsWindowEnabled(window)) return false;
        if (!HasStyle(window, WS_CHILD)) break;
    }
    return true;
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

// A named CALLBACK function: 32-bit builds cannot turn a lambda into stdcall.
BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<DialogSearch*>(context);
    if (ProcessOf(window) == search.processId && IsDialogClass(window)) {
        search.found.push_back(window);
    }
    return TRUE;
}

bool PollUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(kPollIntervalMs);
    }
}

bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
}

}  // namespace

// --- UiDriver ---------------------------------------------------------------

UiDriver::UiDriver(DWORD processId) : processId_(processId) {
}

std::vector<HWND> UiDriver::TopLevelDialogs() const {
    DialogSearch search{processId_, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND UiDriver::Host() const {
    if (host_ != nullptr && IsWindow(host_) && ProcessOf(host_) == processId_) return host_;
    host_ = nullptr;
    for (HWND dialog : TopLevelDialogs()) {
        if (GetDlgItem(dialog, kPageAreaId) != nullptr) {
            host_ = dialog;
            break;
        }
    }
    return host_;
}

HWND UiDriver::WaitForHost(DWORD timeoutMs) {
    HWND host = nullptr;
    PollUntil(
        [&] {
            host = Host();
            return host != nullptr && IsWindowVisible(host);
        },
        timeoutMs);
    return host != nullptr && IsWindowVisible(host) ? host : nullptr;
}

std::vector<std::wstring> UiDriver::VisiblePageNames() const {
    std::vector<std::wstring> names;
    const HWND host = Host();
    if (host == nullptr) return names;
    for (HWND child : Children(host)) {
        if (IsDialogClass(child) && HasStyle(child, WS_CHILD | WS_VISIBLE)) {
            names.push_back(Text(child));
        }
    }
    return names;
}

HWND UiDriver::CurrentPage() const {
    const HWND host = Host();
    if (host == nullptr) return nullptr;
    HWND page = nullptr;
    for (HWND child : Children(host)) {
        if (IsDialogClass(child) && HasStyle(child, WS_CHILD | WS_VISIBLE)) {
            if (page != nullptr) return nullptr;
            page = child;
        }
    }
    return page;
}

std::wstring UiDriver::CurrentPageName() const {
    const HWND page = CurrentPage();
    return page != nullptr ? Text(page) : std::wstring();
}

HWND UiDriver::WaitForPage(const std::wstring& pageName, DWORD timeoutMs) {
    HWND page = nullptr;
    PollUntil(
        [&] {
            page = CurrentPage();
            return page != nullptr && Text(page) == pageName;
        },
        timeoutMs);
    return page != nullptr && Text(page) == pageName ? page : nullptr;
}

HWND UiDriver::WaitForNextPage(HWND previous, DWORD timeoutMs) {
    const auto settled = [&](HWND page) { return page != nullptr && page != previous && !Text(page).empty(); };
    HWND page = nullptr;
    PollUntil(
        [&] {
            page = CurrentPage();
            return settled(page);
        },
        timeoutMs);
    return settled(page) ? page : nullptr;
}

HWND UiDriver::WaitForNextPage(HWND previous, const std::wstring& pageName, DWORD timeoutMs) {
    const HWND page = WaitForNextPage(previous, timeoutMs);
    return page != nullptr && Text(page) == pageName ? page : nullptr;
}

std::wstring UiDriver::Text(HWND window) const {
    if (window == nullptr) return {};
    DWORD_PTR length = 0;
    if (!SendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0, length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), copied)) {
        return {};
    }
    text.resize(std::min<size_t>(copied, length));
    return text;
}

HWND UiDriver::Control(HWND parent, int id) const {
    return parent != nullptr ? GetDlgItem(parent, id) : nullptr;
}

std::wstring UiDriver::ControlText(HWND parent, int id) const {
    return Text(Control(parent, id));
}

bool UiDriver::IsControlVisible(HWND parent, int id) const {
    const HWND control = Control(parent, id);
    return control != nullptr && IsWindowVisible(control);
}

bool UiDriver::IsControlEnabled(HWND parent, int id) const {
    const HWND control = Control(parent, id);
    return control != nullptr && IsWindowEnabled(control);
}

bool UiDriver::Click(HWND parent, int id) {
    const HWND control = Control(parent, id);
    if (!UserCanReach(control)) return false;
    return PostMessageW(control, BM_CLICK, 0, 0) != 0;
}

int UiDriver::ClickEveryLink(HWND parent, int id) {
    const HWND control = Control(parent, id);
    if (!UserCanReach(control)) return 0;
    RECT bounds{};
    if (!GetWindowRect(control, &bounds)) return 0;
    constexpr int kStep = 2;
    auto isLink = [&](int x, int y) {
        DWORD_PTR hit = 0;
        return SendWithTimeout(control, WM_NCHITTEST, 0, MAKELPARAM(x, y), hit) && hit == HTCLIENT;
    };
    int clicks = 0;
    // Rows a few pixels apart see each line of text at least once; a run of
    // link points on a row is one link there, clicked at its middle. Clicking
    // a link once more is harmless; missing one is not.
    for (int y = bounds.top + 1; y < bounds.bottom; y += 3 * kStep) {
        int runStart = -1;
        for (int x = bounds.left; x <= bounds.right; x += kStep) {
            const bool link = x < bounds.right && isLink(x, y);
            if (link && runStart < 0) runStart = x;
            if (link || runStart < 0) continue;
            POINT middle{(runStart + x - kStep) / 2, y};
            runStart = -1;
            ScreenToClient(control, &middle);
            const LPARAM at = MAKELPARAM(middle.x, middle.y);
            PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(control, WM_LBUTTONUP, 0, at);
            ++clicks;
        }
    }
    return clicks;
}

std::vector<std::wstring> UiDriver::ComboItems(HWND parent, int id) const {
    std::vector<std::wstring> items;
    const HWND combo = Control(parent, id);
    DWORD_PTR count = 0;
    if (combo == nullptr || !SendWithTimeout(combo, CB_GETCOUNT, 0, 0, count) ||
        static_cast<LRESULT>(count) == CB_ERR) {
        return items;
    }
    for (WPARAM i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        if (!SendWithTimeout(combo, CB_GETLBTEXTLEN, i, 0, length) || static_cast<LRESULT>(length) == CB_ERR) {
            return {};
        }
        std::wstring item(length + 1, L'\0');
        DWORD_PTR copied = 0;
        if (!SendWithTimeout(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()), copied) ||
            static_cast<LRESULT>(copied) == CB_ERR) {
            return {};
        }
        item.resize(std::min<size_t>(copied, length));
        items.push_back(std::move(item));
    }
    return items;
}

int UiDriver::ComboSelection(HWND parent, int id) const {
    const HWND combo = Control(parent, id);
    DWORD_PTR selection = 0;
    if (combo == nullptr || !SendWithTimeout(combo, CB_GETCURSEL, 0, 0, selection)) return CB_ERR;
    return static_cast<int>(static_cast<LRESULT>(selection));
}

bool UiDriver::SelectComboItem(HWND parent, int id, int index) {
    const HWND combo = Control(parent, id);
    if (!UserCanReach(combo) || index < 0) return false;
    DWORD_PTR selected = 0;
    if (!SendWithTimeout(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0, selected) ||
        static_cast<LRESULT>(selected) != index) {
        return false;
    }
    // CB_SETCURSEL does not notify; the wizard only learns of a user's choice
    // through CBN_SELCHANGE.
    return PostMessageW(GetAncestor(combo, GA_PARENT), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(combo)) != 0;
}

bool UiDriver::IsMessageBox(HWND dialog) const {
    bool hasText = false;
    for (HWND child : Children(dialog)) {
        const std::wstring className = ClassName(child);
        const int id = GetDlgCtrlID(child);
        if (className == L"Static") {
            if (IsUnnamedId(id)) {
                hasText = true;
            } else if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
                return false;
            }
        } else if (className == L"Button") {
            if (id < IDOK || id > IDCONTINUE) return false;
        } else {
            return false;
        }
    }
    return hasText;
}

std::optional<MessageBoxInfo> UiDriver::WaitForMessageBox(DWORD timeoutMs) {
    std::optional<MessageBoxInfo> found;
    PollUntil(
        [&] {
            const HWND host = Host();
            for (HWND dialog : TopLevelDialogs()) {
                if (dialog == host || !IsWindowVisible(dialog) || !IsMessageBox(dialog)) continue;
                MessageBoxInfo info;
                info.window = dialog;
                info.caption = Text(dialog);
                for (HWND child : Children(dialog)) {
                    const int id = GetDlgCtrlID(child);
                    if (IsUnnamedId(id) && ClassName(child) == L"Static") {
                        info.text = Text(child);
                    } else if (ClassName(child) == L"Button") {
                        info.buttons.push_back(id);
                    }
                }
                found = std::move(info);
                return true;
            }
            return false;
        },
        timeoutMs);
    return found;
}

HWND UiDriver::WaitForDialog(const std::wstring& caption, DWORD timeoutMs) {
    HWND found = nullptr;
    PollUntil(
        [&] {
            const HWND host = Host();
            for (HWND dialog : TopLevelDialogs()) {
                if (dialog != host && IsWindowVisible(dialog) && Text(dialog) == caption) {
                    found = dialog;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool UiDriver::Answer(HWND dialog, int buttonId) {
    return Click(dialog, buttonId);
}

bool UiDriver::SystemCommand(UINT command) {
    const HWND host = Host();
    return host != nullptr && PostMessageW(host, WM_SYSCOMMAND, command, 0) != 0;
}

std::optional<bool> UiDriver::HasSystemMenuItem(UINT command) const {
    const HWND host = Host();
    if (host == nullptr) return std::nullopt;
    const HMENU menu = GetSystemMenu(host, FALSE);
    if (menu == nullptr || GetMenuItemCount(menu) < 0) return std::nullopt;
    return GetMenuState(menu, command, MF_BYCOMMAND) != static_cast<UINT>(-1);
}

bool UiDriver::Close() {
    const HWND host = Host();
    return host != nullptr && PostMessageW(host, WM_CLOSE, 0, 0) != 0;
}

bool UiDriver::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) const {
    return PollUntil(condition, timeoutMs);
}

}  // namespace ostrel::testing
