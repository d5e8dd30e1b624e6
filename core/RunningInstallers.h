// The installers this run started. An installer that was not waited for may
// still read the files beside it (a ZIP package's .msi, .cab, DLLs) after the
// wizard has ended, so the working directory's removal spares the folders of
// those still running. So that none can start unseen, every start happens
// under a permit, and the list that the removal takes ends all permits: an
// installer is either in that list or never started.
#pragma once

#include <windows.h>

#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "framework/Handles.h"
#include "framework/Strings.h"

class RunningInstallers {
public:
    // Leave to start installers while it lives; the list's taking waits for it.
    // Held only around creating a process, on the thread that creates it.
    class StartPermit {
    public:
        // Keeps a handle of its own to process, which was started from program.
        void Add(HANDLE process, const CStringW& program) { owner_->Add(process, program); }

    private:
        friend class RunningInstallers;
        StartPermit(RunningInstallers& owner, std::unique_lock<std::mutex> lock)
            : owner_(&owner), lock_(std::move(lock)) {}

        RunningInstallers* owner_;
        std::unique_lock<std::mutex> lock_;
    };

    // A permit, once the list's taking (if under way) is over; nothing once
    // the list has been taken: from then on nothing starts.
    std::optional<StartPermit> PermitStart();
    // Waits for the permit given out, if any, refuses every later one, and
    // returns the programs whose processes have not ended. May be called again.
    std::vector<CStringW> StopStartsAndList();
    // The programs whose processes have not ended yet.
    std::vector<CStringW> Programs() const;

private:
    void Add(HANDLE process, const CStringW& program);

    std::mutex startMutex;
    bool startsStopped = false;
    mutable std::mutex mutex;
    std::vector<std::pair<framework::UniqueKernelHandle, CStringW>> installers;
};
