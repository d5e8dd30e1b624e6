// A wizard program started for a test, ended when the test lets go of it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace ostrel::testing {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept;
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// A started process. It is ended when the object goes away while it still
// runs, so a failing test does not leave a wizard behind.
class WizardProcess {
public:
    // Exit code given to a process that Terminate() ended.
    static constexpr UINT kTerminatedExitCode = 0xDEAD;

    // Starts exePath. extraEnv entries ("NAME=value") are added to the inherited
    // environment, replacing variables of the same name (names compare without
    // case, as on Windows). The working directory is the exe's folder unless
    // workingDirectory is given. On failure Started() is false and StartError()
    // holds the GetLastError() code.
    //
    // Under Wine the child's user locale (GetUserDefaultLocaleName) comes from
    // the Unix environment wine64 was started with, not from this block: an
    // LC_ALL in extraEnv reaches the child's environment variables but not its
    // locale. Set LC_ALL for the whole test executable instead.
    static WizardProcess Start(const std::wstring& exePath, const std::vector<std::wstring>& extraEnv = {},
                               const std::wstring& arguments = L"", const std::wstring& workingDirectory = L"");

    WizardProcess() = default;
    WizardProcess(WizardProcess&& other) noexcept;
    WizardProcess& operator=(WizardProcess&& other) noexcept;
    WizardProcess(const WizardProcess&) = delete;
    WizardProcess& operator=(const WizardProcess&) = delete;
    ~WizardProcess();

    bool Started() const { return process_ != nullptr; }
    DWORD StartError() const { return startError_; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }

    // True when the process has ended (also when it never started).
    bool WaitForExit(DWORD timeoutMs);
    // STILL_ACTIVE while it runs; 0 when it never started.
    DWORD ExitCode() const;
    // Ends the process with kTerminatedExitCode and waits until it is gone, so
    // files it held can be removed right afterwards.
    void Terminate();

private:
    UniqueHandle process_;
    DWORD id_ = 0;
    DWORD startError_ = 0;
};

}  // namespace ostrel::testing
