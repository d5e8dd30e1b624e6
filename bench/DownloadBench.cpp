// Times DownloadManager::DownloadFile on one URL, the way the download pages
// call it, and reports the process's peak working set: the file must be
// streamed to disk, never held in memory.
//
//   ostrel_download_bench.exe <url> <folder> [sha256]
//
// With sha256, the download must have that digest, as when a server names one.
// Prints one line: "bytes=<n> seconds=<s> mib_per_s=<r> peak_working_set_mib=<m>
// working_set_before_mib=<b> cpu_s=<c>" (c: the CPU time the process spent on
// the transfer, all its threads), or the failure text and exit code 1. The file
// lands in <folder> and is removed again.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "download/DownloadManager.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"
#include "bench/ProcessCpu.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

struct Memory {
    double workingSetMiB = 0.0;
    double peakWorkingSetMiB = 0.0;
};

Memory ProcessMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return {};
    return {counters.WorkingSetSize / kMiB, counters.PeakWorkingSetSize / kMiB};
}

std::uint64_t FileSize(const CStringW& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: ostrel_download_bench.exe <url> <folder> [sha256]\n");
        return 2;
    }
    const std::string expectedSha256 = argc == 4 ? WideToUtf8(argv[3]) : std::string();
    const CStringW url = argv[1];
    auto settings = ConfigurationManager::GetInstance();
    const CStringW ownWorkDirectory = settings->workDirectory;
    settings->workDirectory = argv[2];
    settings->downloadFolder = argv[2];

    auto manager = DownloadManager::GetInstance();
    const Memory before = ProcessMemory();
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceFrequency(&frequency);
    const double cpuBefore = ProcessCpuSeconds();
    ::QueryPerformanceCounter(&start);
    const std::pair<bool, CStringW> result = manager->DownloadFile(url, nullptr, CStringW(), true, expectedSha256);
    ::QueryPerformanceCounter(&end);
    const double cpuSeconds = ProcessCpuSeconds() - cpuBefore;
    const Memory after = ProcessMemory();
    ::RemoveDirectoryW(ownWorkDirectory.c_str());

    if (!result.first) {
        std::printf("failed: %s\n", WideToUtf8(result.second).c_str());
        return 1;
    }
    const std::uint64_t bytes = FileSize(manager->lastFilePath);
    ::DeleteFileW(manager->lastFilePath.c_str());
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf(
        "bytes=%llu seconds=%.3f mib_per_s=%.1f peak_working_set_mib=%.1f working_set_before_mib=%.1f cpu_s=%.3f\n",
        static_cast<unsigned long long>(bytes), seconds, bytes / kMiB / seconds, after.peakWorkingSetMiB,
        before.workingSetMiB, cpuSeconds);
    return 0;
}
