// Stand-ins for the system calls the engine measures the machine with. Each
// passes the call on, or answers with a chosen figure or failure, and counts
// how often the engine asked: one probe of a kind at a time.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "tests/support/ImportHook.h"

namespace ostrel::testing {

inline constexpr std::uint64_t kMiB = 1ull << 20;

// GetDiskFreeSpaceExW; also records the volume asked about and the figure answered.
struct DiskProbe {
    static inline int calls = 0;
    static inline std::wstring root;
    static inline std::uint64_t seenAvailable = 0;
    static inline std::optional<std::uint64_t> available;  // free for the caller, when faked
    static inline DWORD failure = 0;
    static inline decltype(&::GetDiskFreeSpaceExW) original = nullptr;

    static BOOL WINAPI Call(LPCWSTR directory, PULARGE_INTEGER forCaller, PULARGE_INTEGER total, PULARGE_INTEGER free) {
        ++calls;
        root = directory ? directory : L"(null)";
        if (failure != 0) {
            ::SetLastError(failure);
            return FALSE;
        }
        if (available) {
            // The volume as a whole has more free than the caller may use.
            if (forCaller) forCaller->QuadPart = *available;
            if (total) total->QuadPart = std::numeric_limits<std::uint64_t>::max();
            if (free) free->QuadPart = std::numeric_limits<std::uint64_t>::max();
            seenAvailable = *available;
            return TRUE;
        }
        ULARGE_INTEGER caller{}, all{}, unused{};
        const BOOL result = original(directory, &caller, &all, &unused);
        if (forCaller) *forCaller = caller;
        if (total) *total = all;
        if (free) *free = unused;
        seenAvailable = caller.QuadPart;
        return result;
    }

    DiskProbe() : hook("kernel32.dll", "GetDiskFreeSpaceExW") {
        calls = 0;
        root.clear();
        seenAvailable = 0;
        available.reset();
        failure = 0;
    }

    ImportProbe<DiskProbe> hook;
};

// GlobalMemoryStatusEx; also records the structure size the engine gave.
struct MemoryProbe {
    static inline int calls = 0;
    static inline DWORD length = 0;
    static inline std::optional<std::uint64_t> total;
    static inline DWORD failure = 0;
    static inline decltype(&::GlobalMemoryStatusEx) original = nullptr;

    static BOOL WINAPI Call(LPMEMORYSTATUSEX status) {
        ++calls;
        length = status->dwLength;
        if (failure != 0) {
            ::SetLastError(failure);
            return FALSE;
        }
        const BOOL result = original(status);
        // The memory free now must not be what the engine compares with.
        if (total) {
            status->ullTotalPhys = *total;
            status->ullAvailPhys = *total / 3;
        }
        return result;
    }

    MemoryProbe() : hook("kernel32.dll", "GlobalMemoryStatusEx") {
        calls = 0;
        length = 0;
        total.reset();
        failure = 0;
    }

    ImportProbe<MemoryProbe> hook;
};

// CreateToolhelp32Snapshot; a failure leaves the engine without a process list.
struct SnapshotProbe {
    static inline int calls = 0;
    static inline DWORD failure = 0;
    static inline decltype(&::CreateToolhelp32Snapshot) original = nullptr;

    static HANDLE WINAPI Call(DWORD flags, DWORD processId) {
        ++calls;
        if (failure != 0) {
            ::SetLastError(failure);
            return INVALID_HANDLE_VALUE;
        }
        return original(flags, processId);
    }

    SnapshotProbe() : hook("kernel32.dll", "CreateToolhelp32Snapshot") {
        calls = 0;
        failure = 0;
    }

    ImportProbe<SnapshotProbe> hook;
};

}  // namespace ostrel::testing
