// What the end-to-end runs through the download and finish pages share: the
// sample installer served as products and offers, the record of the
// installers that ran, the wizard's working directory and the user's
// download folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/common/TestServer.h"
#include "tests/ui/WizardUi.h"

namespace ostrel::testing {

// An offer of a configuration, downloaded from /f/<path> and started with
// arguments; with sha256, the digest the download must have.
std::string OfferJson(const std::string& code, int vertical, const std::string& path, const std::string& arguments,
                      const std::string& sha256 = {});

// The bytes of the sample installer built beside the tests.
std::string SampleInstallerBytes();
// A ZIP archive holding the sample installer under entryName and a text file.
std::string ZipHoldingSampleInstaller(const std::string& entryName);
// A file that starts with the 7z signature.
std::string SevenZipBytes();
// The error CreateProcessW gives for a program file holding bytes: what the
// wizard reports for an installer of that content which cannot start.
DWORD StartErrorOf(const std::string& bytes);

// The wizard's working directories (ISV*.tmp) in a temporary folder.
std::set<std::wstring> WorkingDirectories(const std::wstring& temporaryFolder);
std::wstring DownloadsFolder();
// Removes a product the wizard left in the download folder, and the record
// of its runs the sample installer keeps beside itself: a finish page that
// launched it must leave nothing a later test could take for its own launch.
void RemoveDownloadedProduct(const std::wstring& productPath);
bool IsDirectory(const std::wstring& path);
std::wstring ParentFolder(const std::wstring& path);
// Where a recorded installer run was started from.
std::wstring RunPath(const nlohmann::json& run);
// Ends the processes that parent started from exeName, but those in spared.
void EndChildProcesses(DWORD parent, const wchar_t* exeName, const std::set<DWORD>& spared = {});
// The page on screen and, for the error page, its texts: for failure messages.
std::string Describe(RunningWizard& wizard);

class InstallFlow : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The environment every wizard of the test gets: its installers record here.
    WizardOptions Options(std::vector<std::wstring> extra = {}) const;
    // The runs recorded so far, oldest first.
    std::vector<nlohmann::json> Runs() const;
    // Waits until at least count runs are recorded.
    std::vector<nlohmann::json> WaitForRuns(size_t count, DWORD timeoutMs = kUiTimeoutMs) const;
    // Stored event bodies, once at least count have arrived.
    std::vector<nlohmann::json> StoredEvents(size_t count, DWORD timeoutMs = kUiTimeoutMs) const;
    // The event of that type for that offer code; null when there is none.
    static nlohmann::json FindEvent(const std::vector<nlohmann::json>& events, const std::string& type,
                                    const std::string& offerCode);
    // Welcome page, then each offer page answered in turn (true: accept); the
    // page after the last offer, or nullptr.
    HWND WalkOffers(RunningWizard& wizard, HWND welcome, const std::vector<bool>& accept, const std::wstring& next);
    // The working directory the wizard created in this test's own temporary
    // folder (other test programs running meanwhile create theirs elsewhere).
    std::wstring NewWorkingDirectory() const;
    // Waits until every recorded installer process has ended.
    void WaitForInstallersToEnd() const;

    TestServer server{L"127.0.0.1"};
    std::wstring recordFile;
    std::wstring temporaryFolder;
};

}  // namespace ostrel::testing
