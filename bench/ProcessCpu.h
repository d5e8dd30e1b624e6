// The CPU time this process has used so far, user and kernel, in seconds:
// the figure of a transfer that a busy machine disturbs least, since waiting
// for the network costs none of it.
#pragma once

#include <windows.h>

inline double ProcessCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    const auto seconds = [](const FILETIME& time) {
        const ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        return static_cast<double>(ticks) / 1e7;  // 100 ns ticks
    };
    return seconds(kernel) + seconds(user);
}
