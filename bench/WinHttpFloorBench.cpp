// The floor under the wizard's download stage in this Windows: one GET through
// WinHTTP, the body read as fast as WinHTTP hands it out (one large read after
// another, no availability queries) and thrown away. Nothing else is done per
// read, so the wizard's throughput against this loop shows what its own work
// (files, progress, digests) costs, apart from what WinHTTP itself costs here.
// With --available, each round first asks WinHttpQueryDataAvailable and reads
// exactly what it reports, as the wizard's stage does: the floor under that
// read pattern, which in Wine's WinHTTP means its 8 KiB receives.
// With --write FILE, the same read pattern also puts the body into FILE the
// plainest way: reads gather in one megabyte buffer, written out on the same
// thread whenever the next read would not fit, and the file is closed at the
// end (then removed). That is the floor under a download to disk, where the
// bytes must also reach the file system.
//
//   ostrel_winhttp_floor.exe <url> [--available | --write <file>]
//
// Prints one line: "bytes=<n> seconds=<s> mib_per_s=<r> cpu_s=<c>" (body
// bytes only, timed from sending the request to the last read, and with
// --write to the file closed; c: the CPU time the process spent over the same
// span), or the failure and exit code 1.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "api/SecureProtocols.h"
#include "api/UrlParts.h"
#include "api/WinHttpHandle.h"
#include "framework/Handles.h"
#include "bench/ProcessCpu.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr DWORD kReadSize = 1024 * 1024;

int Fail(const char* what) {
    std::printf("failed: %s (%lu)\n", what, ::GetLastError());
    return 1;
}

double SecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool WriteAll(const framework::UniqueKernelHandle& file, const char* bytes, DWORD size) {
    if (size == 0) return true;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc >= 3 ? argv[2] : L"";
    const bool writeFile = argc == 4 && mode == L"--write";
    const bool askAvailable = (argc == 3 && mode == L"--available") || writeFile;
    if (argc != 2 && !askAvailable) {
        std::fprintf(stderr, "usage: ostrel_winhttp_floor.exe <url> [--available | --write <file>]\n");
        return 2;
    }
    const CStringW url = argv[1];
    URL_COMPONENTS parts{};
    if (!CrackUrl(url, parts)) return Fail("url");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    UniqueWinHttpHandle session(::WinHttpOpen(L"ostrel-winhttp-floor", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return Fail("open");
    SetSecureProtocols(session.Get());
    UniqueWinHttpHandle connection(::WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    if (!connection) return Fail("connect");
    UniqueWinHttpHandle request(::WinHttpOpenRequest(connection.Get(), L"GET", path.c_str(), nullptr,
                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return Fail("request");

    const double cpuBefore = ProcessCpuSeconds();
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return Fail("send");
    if (!::WinHttpReceiveResponse(request.Get(), nullptr)) return Fail("receive");
    std::vector<char> buffer(kReadSize);
    framework::UniqueKernelHandle file;
    if (writeFile) {
        file.Reset(::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return Fail("create file");
    }
    unsigned long long bytes = 0;
    DWORD gathered = 0;
    for (;;) {
        DWORD wanted = kReadSize;
        if (askAvailable) {
            if (!::WinHttpQueryDataAvailable(request.Get(), &wanted)) return Fail("query");
            if (wanted == 0) break;
            if (wanted > kReadSize) wanted = kReadSize;
        }
        if (gathered + wanted > kReadSize) {
            if (!WriteAll(file, buffer.data(), gathered)) return Fail("write");
            gathered = 0;
        }
        DWORD read = 0;
        if (!::WinHttpReadData(request.Get(), buffer.data() + gathered, wanted, &read)) return Fail("read");
        if (read == 0) break;
        bytes += read;
        // Without a file every read lands at the start of the buffer.
        if (writeFile) gathered += read;
    }
    if (writeFile) {
        if (!WriteAll(file, buffer.data(), gathered)) return Fail("write");
        file.Reset();
    }
    const double seconds = SecondsSince(start);
    const double cpuSeconds = ProcessCpuSeconds() - cpuBefore;
    if (writeFile) ::DeleteFileW(argv[3]);
    std::printf("bytes=%llu seconds=%.3f mib_per_s=%.1f cpu_s=%.3f\n", bytes, seconds, bytes / kMiB / seconds,
                cpuSeconds);
    return 0;
}
