// The process-wide settings: build-time values, the folders chosen at start
// for the wizard type, and the session values the pages fill and read.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/SharedPicture.h"
#include "framework/Strings.h"
#include "core/PathMacros.h"
#include "core/RunningInstallers.h"

class Package;

enum WizardType : std::int32_t {
    Unknown = 0,
    DLM = 1,  // download wizard: leaves the product file to the user
    ISV = 2,  // installer wizard: downloads and runs the installers
};

class ConfigurationManager {
public:
    // Shows a developer-facing problem (a message box in the program).
    using MessageSink = std::function<void(const CStringW&)>;

    // The one instance for this executable's build key, created on first use.
    static std::shared_ptr<ConfigurationManager> GetInstance();

    // Settings for the given build key; the program itself uses GetInstance().
    explicit ConfigurationManager(std::string_view buildKey, MessageSink showMessage = nullptr);
    ConfigurationManager(const ConfigurationManager&) = delete;
    ConfigurationManager& operator=(const ConfigurationManager&) = delete;

    std::string GetSessionTimestamp();
    std::string GetMachineId();
    // Copies of the folder-macro maps, built on first use.
    PathMacroMap GetPathMacros();
    PathMacroMap GetPathMacros64();
    void SetDownloadedFilePath(const CStringW& path);

    WizardType wizardType = WizardType::Unknown;
    CStringW productTitle;
    CStringW productUrl;
    CStringW productImageUrl;
    CStringW privacyUrl;
    CStringW termsUrl;
    CStringW downloadFolder;
    CStringW productFileName;
    // The SHA-256 the server named for the product, in lower case; empty when none.
    std::string productSha256;
    CStringW workDirectory;
    CStringW productInstallerArgs;
    CStringW wizardId;
    CStringW downloadedFilePath;
    CStringW fileVersion;
    CStringW configurationUrl;
    CStringW eventsUrl;
    CStringW brandName;
    CStringW sourceId;
    CStringW channel;
    CStringW offerTag;
    std::int32_t maxOffers = 0;
    CStringW offerBaseUrl;
    CStringW languageName;
    CStringW languageCode;
    std::string ccValue;
    std::string pubId;
    std::vector<std::shared_ptr<Package>> acceptedOffers;
    std::vector<std::shared_ptr<Package>> shownOffers;
    std::shared_ptr<Package> mainPackage;
    // Set by the picture download's thread, read and released by the window's.
    framework::SharedPicture<Gdiplus::Image> productImage;
    std::atomic<bool> cancelRequested{false};
    RunningInstallers runningInstallers;

private:
    void SetUpDownloadWizard();
    void SetUpInstallerWizard();

    // Guards the values computed on first use, which worker threads may ask for.
    std::mutex firstUseMutex;
    std::string sessionTimestamp;
    std::string machineId;
    PathMacroMap pathMacros;
    PathMacroMap pathMacros64;
    bool pathMacrosReady = false;
};

// Creates a new, empty directory in the user's temporary folder that only
// administrators and the system can change (AdministratorsOnlySecurity.h)
// and returns its path; empty when none could be created. A name that
// something else already took (a link planted by another program, say) is
// never used.
CStringW CreateWorkingDirectory();
