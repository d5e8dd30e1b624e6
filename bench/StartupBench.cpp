// Times how long programs take from process start until a window of theirs
// with a given name is on screen and painted, and prints the median per
// program. Programs take turns, so a slower or busier moment of the machine
// weighs on all of them alike.
//
//   ostrel_startup_bench.exe RUNS EXE WINDOW_NAME [EXE WINDOW_NAME ...]
//
// "Painted": the named window (top-level or child) and every window it sits
// in are visible, no window of its top-level window has a pending paint, and
// the program's UI thread has come back to its message loop since. Each run
// ends with WM_CLOSE; a question box that it raises is answered with OK, and a
// program that is still there after that is terminated. Prints one line per
// program: "startup exe=NAME median_ms=... min_ms=... max_ms=... runs=N".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "tests/driver/WindowQueries.h"

namespace {

using ostrel::testing::HasPendingPaint;
using ostrel::testing::ProcessOf;
using UniqueHandle = framework::UniqueHandle<framework::KernelHandleTraits>;

constexpr DWORD kWindowTimeoutMs = 30000;
constexpr DWORD kCloseTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 5000;
// Between runs: lets the ended process's windows and mutex go everywhere.
constexpr DWORD kSettleMs = 200;

struct Program {
    std::wstring exe;
    std::wstring windowName;
    std::vector<double> startupMs;
};

struct StartedProcess {
    UniqueHandle process;
    DWORD id = 0;
};

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

HWND FindShownWindow(DWORD processId, const std::wstring& name) {
    WindowSearch search{processId, &name};
    ::EnumWindows(FindNamedWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A sent message is handled only where the thread reads its queue, so its
// answer means the paint handler that cleared the update region has returned.
bool RoundTrip(HWND window) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
}

bool IsPainted(HWND root) { return !HasPendingPaint(root) && RoundTrip(root) && !HasPendingPaint(root); }

bool HasEnded(HANDLE process, DWORD timeoutMs = 0) {
    return ::WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

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

// The top-level window of the process with the named window painted in it;
// nullptr when the process ended or the time ran out.
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

// Closes the program as a user would: the close box, then OK to any
// question. Clicks are posted: a sent click would wait for the modal loop
// it starts.
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

// One start of the program; the milliseconds until it was painted.
std::optional<double> TimeStartup(const Program& program) {
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    const std::optional<StartedProcess> started = Start(program.exe);
    if (!started) return std::nullopt;
    const HWND root = WaitUntilPainted(*started, program.windowName);
    const double elapsed = MillisecondsSince(start);
    if (root == nullptr) {
        std::fwprintf(stderr, L"%ls: no painted window \"%ls\"\n", program.exe.c_str(), program.windowName.c_str());
        ::TerminateProcess(started->process.Get(), 1);
        HasEnded(started->process.Get(), kCloseTimeoutMs);
        return std::nullopt;
    }
    Close(*started, root);
    return elapsed;
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

void PrintSummary(const Program& program) {
    const auto [least, most] = std::minmax_element(program.startupMs.begin(), program.startupMs.end());
    std::wprintf(L"startup exe=%ls median_ms=%.1f min_ms=%.1f max_ms=%.1f runs=%zu\n", FileName(program.exe).c_str(),
                 Median(program.startupMs), *least, *most, program.startupMs.size());
}

// Runs every program once per round; the first round only warms the file
// cache and is not counted. Odd rounds go backwards so no program always
// follows the same one.
bool RunRounds(std::vector<Program>& programs, int runs) {
    for (int round = 0; round <= runs; ++round) {
        for (size_t i = 0; i < programs.size(); ++i) {
            Program& program = programs[round % 2 == 0 ? i : programs.size() - 1 - i];
            const std::optional<double> ms = TimeStartup(program);
            if (!ms) return false;
            if (round > 0) program.startupMs.push_back(*ms);
        }
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 0;
    if (runs < 1 || argc < 4 || argc % 2 != 0) {
        std::fwprintf(stderr, L"usage: ostrel_startup_bench.exe RUNS EXE WINDOW_NAME [EXE WINDOW_NAME ...]\n");
        return 2;
    }
    std::vector<Program> programs;
    for (int i = 2; i + 1 < argc; i += 2) programs.push_back(Program{argv[i], argv[i + 1], {}});
    if (!RunRounds(programs, runs)) return 1;
    for (const Program& program : programs) PrintSummary(program);
    return 0;
}
