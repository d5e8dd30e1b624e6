#include "bench/BenchWindows.h"

#include <algorithm>
#include <cstdio>

#include "tests/support/WindowQueries.h"

namespace ostrel::bench {

namespace {

using ostrel::testing::HasPendingPaint;
using ostrel::testing::ProcessOf;

constexpr DWORD kWindowTimeoutMs = 30000;
constexpr DWORD kCloseTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 5000;
// Between runs: lets the ended process's windows and mutex go everywhere.
constexpr DWORD kSettleMs = 200;

// The window's own text, read without sending it a message (which a busy
// program would answer late and so distort the timing).
std::wstring WindowText(HWND window) {
    wchar_t text[128] = {};
    const int length = ::InternalGetWindowText(window, text, static_cast<int>(std::size(text)));
    return std::wstring(text, length > 0 ? length : 0);
}

bool IsOnScreen(HWND window) {
    for (HWND w = window; w != nullptr; w = ::GetAncestor(w, GA_PARENT)) {
        if (!::IsWindowVisible(w)) return false;
        if ((::GetWindowLongPtrW(w, GWL_STYLE) & WS_CHILD) == 0) break;
    }
    return true;
}

struct WindowSearch {
    DWORD processId;
    const std::wstring* name;
    HWND found = nullptr;
};

bool Matches(HWND window, const WindowSearch& search) {
    return WindowText(window) == *search.name && IsOnScreen(window);
}

// Named CALLBACK functions: 32-bit builds cannot turn a lambda into stdcall.
BOOL CALLBACK FindNamedChild(HWND child, LPARAM context) {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    if (!Matches(child, search)) return TRUE;
    search.found = child;
    return FALSE;
}

BOOL CALLBACK FindNamedWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    if (ProcessOf(window) != search.processId) return TRUE;
    if (Matches(window, search)) {
        search.found = window;
    } else {
        ::EnumChildWindows(window, FindNamedChild, context);
    }
    return search.found == nullptr;
}

// A sent message is handled only where the thread reads its queue, so its
// answer means the paint handler that cleared the update region has returned.
bool RoundTrip(HWND window) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
}

struct BoxSearch {
    DWORD processId;
    HWND owner;
    HWND box = nullptr;
};

BOOL CALLBACK FindQuestionBox(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<BoxSearch*>(context);
    if (window == search.owner || ProcessOf(window) != search.processId || !::IsWindowVisible(window)) return TRUE;
    if (::GetDlgItem(window, IDOK) == nullptr) return TRUE;
    search.box = window;
    return FALSE;
}

}  // namespace

std::optional<StartedProcess> Start(const std::wstring& exe) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        std::fwprintf(stderr, L"cannot start %ls: error %lu\n", exe.c_str(), ::GetLastError());
        return std::nullopt;
    }
    UniqueHandle thread(info.hThread);
    return StartedProcess{UniqueHandle(info.hProcess), info.dwProcessId};
}

bool HasEnded(HANDLE process, DWORD timeoutMs) {
    return ::WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
}

HWND FindShownWindow(DWORD processId, const std::wstring& name) {
    WindowSearch search{processId, &name};
    ::EnumWindows(FindNamedWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsPainted(HWND root) {
    return !HasPendingPaint(root) && RoundTrip(root) && !HasPendingPaint(root);
}

HWND WaitUntilPainted(const StartedProcess& started, const std::wstring& name) {
    const ULONGLONG deadline = ::GetTickCount64() + kWindowTimeoutMs;
    while (::GetTickCount64() < deadline && !HasEnded(started.process.Get())) {
        const HWND window = FindShownWindow(started.id, name);
        const HWND root = window != nullptr ? ::GetAncestor(window, GA_ROOT) : nullptr;
        if (root != nullptr && IsPainted(root)) return root;
        ::Sleep(1);
    }
    return nullptr;
}

// Clicks are posted: a sent click would wait for the modal loop it starts.
void Close(const StartedProcess& started, HWND root) {
    ::PostMessageW(root, WM_CLOSE, 0, 0);
    const ULONGLONG deadline = ::GetTickCount64() + kCloseTimeoutMs;
    while (::GetTickCount64() < deadline && !HasEnded(started.process.Get(), 20)) {
        BoxSearch search{started.id, root};
        ::EnumWindows(FindQuestionBox, reinterpret_cast<LPARAM>(&search));
        if (search.box != nullptr) ::PostMessageW(::GetDlgItem(search.box, IDOK), BM_CLICK, 0, 0);
    }
    if (!HasEnded(started.process.Get())) {
        std::fwprintf(stderr, L"process %lu did not close; terminating it\n", started.id);
        ::TerminateProcess(started.process.Get(), 1);
        HasEnded(started.process.Get(), kCloseTimeoutMs);
    }
    ::Sleep(kSettleMs);
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

std::wstring FileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace ostrel::bench
