// The Windows version an offer needs: the codes against the running Windows,
// and against the versions Wine reports to renamed copies of this program,
// each with the rejection event the reference server stores.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "tests/eligibility/EligibilityTestSupport.h"

namespace {

using nlohmann::json;
using ostrel::testing::EligibilityTest;
using ostrel::testing::Narrow;
using ostrel::testing::ScratchFolder;
using ostrel::testing::ScratchKey;
using ostrel::testing::UniqueName;

constexpr char kUnsupportedOs[] = "UNSUPPORTED OS VERSION";

struct WindowsVersion {
    DWORD major = 0;
    DWORD minor = 0;
};

// The version Windows reports to this process, whatever its manifest says.
WindowsVersion RunningWindows() {
    using RtlGetVersionFunction = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) return {};
    return {info.dwMajorVersion, info.dwMinorVersion};
}

bool AtLeast(const WindowsVersion& running, DWORD major, DWORD minor) {
    return running.major > major || (running.major == major && running.minor >= minor);
}

class EligibilityOsVersion : public EligibilityTest {
protected:
    // Every code of the table, codes beside it and codes without a requirement.
    void ExpectCodesFollow(const WindowsVersion& running) {
        const std::pair<json, std::optional<WindowsVersion>> codes[] = {
            {61, WindowsVersion{6, 1}},
            {62, WindowsVersion{6, 2}},
            {63, WindowsVersion{6, 3}},
            {100, WindowsVersion{10, 0}},
            {64, std::nullopt},
            {1, std::nullopt},
            {60, std::nullopt},
            {99, std::nullopt},
            {101, std::nullopt},
            {true, std::nullopt},
            {0, WindowsVersion{}},
            {-5, WindowsVersion{}},
            {std::numeric_limits<std::int32_t>::min(), WindowsVersion{}},
        };
        EligibilityEngine engine(100);
        std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
        for (const auto& [code, needs] : codes) {
            const bool accepted = needs && AtLeast(running, needs->major, needs->minor);
            const auto offer = Offer({{"ov", code}});
            bool limitReached = false;
            EXPECT_EQ(engine.Evaluate(offer, limitReached), accepted)
                << "code " << code.dump() << " on Windows " << running.major << "." << running.minor;
            expected.emplace_back(offer, accepted ? "" : kUnsupportedOs);
        }
        ExpectReasons(expected);
    }
};

TEST_F(EligibilityOsVersion, CodesFollowTheRunningWindows) {
    const WindowsVersion running = RunningWindows();
    ASSERT_GE(running.major, 6u);
    ExpectCodesFollow(running);
}

// Runs a renamed copy of this program that Wine tells another Windows version
// (a setting per executable name); the copy checks the codes against it.
TEST_F(EligibilityOsVersion, CodesFollowTheWindowsReportedToARenamedCopy) {
    wchar_t self[MAX_PATH * 2] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH * 2), 0u);
    const struct {
        const wchar_t* wineName;
        const wchar_t* version;
    } systems[] = {{L"win7", L"6.1"}, {L"win8", L"6.2"}, {L"win81", L"6.3"}};
    for (const auto& system : systems) {
        SCOPED_TRACE(Narrow(system.wineName));
        const ScratchFolder folder;
        const std::wstring name = UniqueName(L"ostrel-elig-") + system.wineName + L".exe";
        const std::wstring copy = folder.path() + L"\\" + name;
        const std::wstring result = folder.path() + L"\\result.txt";
        ASSERT_TRUE(::CopyFileW(self, copy.c_str(), FALSE));
        const ScratchKey appDefaults(HKEY_CURRENT_USER, 0, L"Software\\Wine\\AppDefaults", name);
        appDefaults.SetText(L"", L"Version", system.wineName);

        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_WINDOWS", system.version);
        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_CHILD_RESULT", result.c_str());
        std::wstring commandLine = L"\"" + copy + L"\" --gtest_filter=EligibilityOsVersionChild.*";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION child{};
        const BOOL started = ::CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                              nullptr, &startup, &child);
        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_WINDOWS", nullptr);
        ::SetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_CHILD_RESULT", nullptr);
        ASSERT_TRUE(started);
        if (::WaitForSingleObject(child.hProcess, 90000) != WAIT_OBJECT_0) {
            ::TerminateProcess(child.hProcess, 1);
            ::WaitForSingleObject(child.hProcess, 10000);
            ADD_FAILURE() << "the copy did not finish";
        }
        DWORD exitCode = 1;
        ::GetExitCodeProcess(child.hProcess, &exitCode);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
        EXPECT_EQ(exitCode, 0u);
        std::ifstream file{std::filesystem::path(result)};
        std::stringstream text;
        text << file.rdbuf();
        file.close();
        EXPECT_EQ(text.str(), "checked") << "the copy did not run its check";
    }
}

class EligibilityOsVersionChild : public EligibilityOsVersion {};

TEST_F(EligibilityOsVersionChild, CodesFollowTheReportedWindows) {
    wchar_t version[16] = {};
    wchar_t result[MAX_PATH * 2] = {};
    if (::GetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_WINDOWS", version, 16) == 0 ||
        ::GetEnvironmentVariableW(L"OSTREL_ELIGIBILITY_CHILD_RESULT", result, MAX_PATH * 2) == 0) {
        GTEST_SKIP() << "runs inside renamed copies only";
    }
    const WindowsVersion running = RunningWindows();
    ASSERT_EQ(std::to_wstring(running.major) + L"." + std::to_wstring(running.minor), version)
        << "Wine did not apply the version set for this copy";
    ExpectCodesFollow(running);
    if (!HasFailure()) std::ofstream(std::filesystem::path(result)) << "checked";
}

}  // namespace
