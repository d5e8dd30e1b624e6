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

#include "bench/BenchWindows.h"

namespace {

using namespace ostrel::bench;

constexpr DWORD kCloseTimeoutMs = 10000;

struct Program {
    std::wstring exe;
    std::wstring windowName;
    std::vector<double> startupMs;
};

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
