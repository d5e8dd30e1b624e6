// What both download pages do with a package: fetch it through the download
// manager, report its outcome, and start its installer. The pages differ
// only in where files go and in when installers run.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "download/HeldFile.h"
#include "framework/Strings.h"

class Package;

// A downloaded package made ready for its installer: the program to start,
// held (HeldFile) from the end of its download, or for a ZIP package from its
// extraction, until its process exists; or, with no program, why the
// package is refused.
struct ReadyInstaller {
    CStringW program;
    std::string refusal;
    std::vector<HeldFile> held;
};

// What a download came to: its failure text, or where the file went and,
// for a package whose installer the wizard starts, that installer made ready.
struct DownloadOutcome {
    bool succeeded = false;
    CStringW errorText;
    CStringW path;
    std::optional<ReadyInstaller> installer;
};

// What starting a package's installer came to: the program prepared from
// the download, and the run's (exit code, start error); or, with no run at
// all, why the package was refused.
struct InstallerStart {
    CStringW program;
    std::pair<DWORD, DWORD> run{0xFFFFFFFF, 0};
    std::string refusal;
};

// Futures of std::async: a page that goes away waits for its running
// download or installer start.
using DownloadResult = std::future<DownloadOutcome>;
using InstallerResult = std::future<InstallerStart>;

inline constexpr UINT_PTR TIMER_DOWNLOAD_POLL = 4096;
inline constexpr UINT_PTR TIMER_INSTALL_POLL = 4098;
inline constexpr UINT kPollPeriodMs = 100;

// Prefixes of the failure texts the analytics server receives.
inline constexpr std::string_view kDownloadFailed = "DOWNLOAD FAILED: ";
inline constexpr std::string_view kMainProductDownloadFailed = "MAIN PRODUCT DOWNLOAD FAILED: ";
inline constexpr std::string_view kExecFailed = "EXEC FAILED";

template <typename T>
bool IsReady(const std::future<T>& result) {
    return result.valid() && result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// What a download page fetches, in order: the main product, then the
// accepted offers as the user accepted them.
std::deque<std::shared_ptr<Package>> PackagesToDownload();

// The offer base URL followed directly by the offer's download path.
CStringW OfferDownloadUrl(const Package& offer);

// The SHA-256 the server named for the package's download (the main
// product's from the configuration, an offer's from its own entry); empty
// when it named none.
std::string ExpectedSha256(const Package& package);

// Where a download goes and what becomes of it: fileName "" keeps the name
// the server gives; without the working folder it lands in the user's
// download folder. installs: the wizard starts the package's installer,
// prepared inside the working folder (a ZIP is unpacked there).
struct DownloadRequest {
    CStringW url;
    CStringW fileName;
    bool useWorkFolder = true;
    std::string expectedSha256;
    bool installs = false;
};

// Why the main product must not be fetched from url; empty when it may. The
// product is started, or launched by the user, with the wizard's rights, so
// it comes over HTTPS (scheme in any case) or, from anywhere else, only with
// the SHA-256 the configuration named for it: bytes anyone on the network
// path could change are never taken unchecked.
CStringW ProductUrlRefusal(const CStringW& url, const std::string& expectedSha256);

// A download result that has already failed with errorText, for a transfer
// that is never started.
DownloadResult FailedDownload(const CStringW& errorText);

// DownloadManager::DownloadFile of the process-wide manager on a thread of
// its own; progress is posted to window. A download whose digest differs
// from the expected one fails (when one is given). A package whose installer
// the wizard starts is then held and checked again (HeldFile) against that
// digest, or, when the server named none, against the digest computed while
// it arrived, and prepared (PrepareReadyInstaller); a file that changed fails
// the download with that text. Nothing is prepared once the user has closed
// the wizard.
DownloadResult StartDownload(const DownloadRequest& request, HWND window);

// Holds the downloaded file at path and checks its bytes against sha256, then
// turns it into the program to start inside folder (a ZIP is unpacked, its
// first ".exe" is the program and is held in turn). Throws
// std::runtime_error when the file cannot be held or differs; a ZIP past its
// limits, or one whose unpacking the cancel flag ended, comes back refused.
ReadyInstaller PrepareReadyInstaller(const CStringW& path, const std::string& sha256, const CStringW& folder,
                                     const std::atomic<bool>* cancelled);

// The extra data of a failure event: its failure text is prefix + text. The text goes as
// UTF-8, so a system message in any language keeps the event valid JSON.
nlohmann::json FailureData(std::string_view prefix, const CStringW& text);

// The extra data of an installer that could not be started: its failure text
// is "EXEC FAILED" followed directly by code in unsigned decimal.
nlohmann::json ExecFailedData(DWORD code);

// An offer's installer was started (Done) or could not be (Failed with
// "EXEC FAILED" and the start error): result is what RunProcess returned.
void ReportOfferInstallerStart(Package& offer, const std::pair<DWORD, DWORD>& result);

// Every accepted offer learns that the main product could not be downloaded.
void ReportMainProductDownloadFailed(const CStringW& errorText);

// On a thread of its own: runs the ready installer's program with
// RunProcess, under a start permit of the settings' running installers, so
// that the end of the wizard spares its folder while it runs; the program is
// held until its process exists. A refused package, or one whose turn comes
// after the user closed the wizard, runs nothing.
InstallerResult StartInstaller(ReadyInstaller installer, const CStringW& arguments, bool wait);

// The failure event data of a refused package: the refusal is its failure text.
nlohmann::json RefusalData(const std::string& refusal);
