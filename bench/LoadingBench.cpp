// Times the download wizard from Next on its language page until its welcome
// page is on screen and painted: all the loading page does (configuration,
// rules, rejection events, pictures) while the user waits for it.
//
//   ostrel_loading_bench.exe RUNS EXE
//
// Each run starts EXE, waits for its painted language page, clicks Next,
// times until the welcome page is painted (as ostrel_startup_bench judges
// it), then closes the wizard, answering its question with OK. A first run
// warms up and is not counted. Prints "loading run=N ms=..." per run, then
// "loading median_ms=... min_ms=... max_ms=... runs=N".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench/BenchWindows.h"
#include "resources/resource.h"

namespace {

using namespace ostrel::bench;

constexpr DWORD kCloseTimeoutMs = 10000;

void Abandon(const StartedProcess& started, const wchar_t* what) {
    std::fwprintf(stderr, L"%ls\n", what);
    ::TerminateProcess(started.process.Get(), 1);
    HasEnded(started.process.Get(), kCloseTimeoutMs);
}

// One run; the milliseconds from the click on Next to the painted welcome page.
std::optional<double> TimeLoading(const std::wstring& exe) {
    const std::optional<StartedProcess> started = Start(exe);
    if (!started) return std::nullopt;
    if (!WaitUntilPainted(*started, L"LanguagePage")) {
        Abandon(*started, L"no painted language page");
        return std::nullopt;
    }
    HWND next = ::GetDlgItem(FindShownWindow(started->id, L"LanguagePage"), IDC_NEXT);
    if (!next) {
        Abandon(*started, L"no Next button on the language page");
        return std::nullopt;
    }
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    ::PostMessageW(next, BM_CLICK, 0, 0);
    const HWND root = WaitUntilPainted(*started, L"WelcomePage");
    const double elapsed = MillisecondsSince(start);
    if (!root) {
        Abandon(*started, L"no painted welcome page");
        return std::nullopt;
    }
    Close(*started, root);
    return elapsed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 0;
    if (runs < 1 || argc != 3) {
        std::fwprintf(stderr, L"usage: ostrel_loading_bench.exe RUNS EXE\n");
        return 2;
    }
    std::vector<double> loadingMs;
    for (int run = 0; run <= runs; ++run) {
        const std::optional<double> ms = TimeLoading(argv[2]);
        if (!ms) return 1;
        if (run == 0) continue;
        loadingMs.push_back(*ms);
        std::wprintf(L"loading run=%d ms=%.1f\n", run, *ms);
    }
    const auto [least, most] = std::minmax_element(loadingMs.begin(), loadingMs.end());
    std::wprintf(L"loading median_ms=%.1f min_ms=%.1f max_ms=%.1f runs=%zu\n", Median(loadingMs), *least, *most,
                 loadingMs.size());
    return 0;
}
