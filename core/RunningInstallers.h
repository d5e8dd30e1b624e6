// The installers this run started. An installer that was not waited for may
// still read the files beside it (a ZIP package's .msi, .cab, DLLs) after the
// wizard has ended, so the working directory's removal spares the folders of
// those still running.
#pragma once

#include <windows.h>

#include <mutex>
#include <utility>
#include <vector>

#include "framework/Handles.h"
#include "framework/Strings.h"

class RunningInstallers {
public:
    // Keeps a handle of its own to process, which was started from program.
    // Called on the thread that started it.
    void Add(HANDLE process, const CStringW& program);
    // The programs whose processes have not ended yet.
    std::vector<CStringW> Programs() const;

private:
    mutable std::mutex mutex;
    std::vector<std::pair<framework::UniqueKernelHandle, CStringW>> installers;
};
