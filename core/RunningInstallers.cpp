#include "core/RunningInstallers.h"

std::optional<RunningInstallers::StartPermit> RunningInstallers::PermitStart() {
    std::unique_lock lock(startMutex);
    if (startsStopped) return std::nullopt;
    return StartPermit(*this, std::move(lock));
}

std::vector<CStringW> RunningInstallers::StopStartsAndList() {
    {
        std::lock_guard lock(startMutex);
        startsStopped = true;
    }
    return Programs();
}

void RunningInstallers::Add(HANDLE process, const CStringW& program) {
    HANDLE own = nullptr;
    // Only whether it still runs is ever asked.
    if (!::DuplicateHandle(::GetCurrentProcess(), process, ::GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0)) return;
    std::lock_guard lock(mutex);
    installers.emplace_back(framework::UniqueKernelHandle(own), program);
}

std::vector<CStringW> RunningInstallers::Programs() const {
    std::lock_guard lock(mutex);
    std::vector<CStringW> programs;
    for (const auto& [process, program] : installers) {
        if (::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) programs.push_back(program);
    }
    return programs;
}
