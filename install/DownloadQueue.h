// What both download pages do with their packages: fetch them one at a
// time, report each one's outcome, then start the installers kept for later
// one at a time. Transfers and installer starts run off the window's thread
// and the page's timers poll them, so every decision is taken on the
// window's thread. Once the user has closed the wizard nothing new starts.
// What differs between the pages (where files go, which installers run,
// what the end of each step means) comes from the page as a Client.
#pragma once

#include <deque>
#include <memory>
#include <utility>

#include <nlohmann/json.hpp>

#include "framework/Dialog.h"
#include "framework/Strings.h"
#include "install/PackageTransfers.h"

class Package;

class DownloadQueue {
public:
    // Where a package goes: fileName "" keeps the name the server gives;
    // without the working folder it lands in the user's download folder.
    // installs: the wizard starts the package's installer, which is held and
    // prepared in the working folder as soon as the package is down.
    struct Transfer {
        CStringW url;
        CStringW fileName;
        bool useWorkFolder = true;
        bool installs = true;
    };

    // How a package's installer starts, and whether it is waited for. It
    // starts in its own folder, inside the working folder.
    struct Launch {
        CStringW arguments;
        bool wait = false;
    };

    // The page's part. Every call comes on the window's thread.
    class Client {
    public:
        virtual Transfer TransferOf(const Package& package) = 0;
        // The package is down at path (and, when it installs, its installer
        // is ready).
        virtual void OnDownloaded(Package& package, const CStringW& path) = 0;
        // The main product could not be fetched. Every package has been
        // told and nothing more starts.
        virtual void OnMainProductNotDownloaded() = 0;
        // The downloads are over and no installer was kept.
        virtual void OnNothingToInstall() = 0;
        // The downloads are over and the kept installers start now.
        virtual void OnInstallersStarting() = 0;
        virtual Launch LaunchOf(const Package& package) = 0;
        // The main product's installer has ended, or could not start; true
        // goes on with the offers' installers.
        virtual bool OnMainInstallerEnded(Package& product, const InstallerStart& start) = 0;
        // Every kept installer has been started.
        virtual void OnInstallersStarted() = 0;

    protected:
        ~Client() = default;
    };

    // Polls with page's timers and has the transfers' progress posted to it.
    DownloadQueue(framework::CDialog& page, Client& client);

    // Fetches the main product, then the accepted offers as the user accepted them.
    void Start();
    // The installers still waiting are dropped, each package reporting data as its failure.
    void FailWaitingInstallers(const nlohmann::json& data);

private:
    void StartFrontDownload();
    void PollDownload();
    void OnMainProductFailed(const CStringW& errorText);
    void ContinueAfterDownload();
    void StartFrontInstaller();
    void PollInstaller();

    framework::CDialog& page;
    Client& client;
    std::deque<std::shared_ptr<Package>> downloadQueue;
    std::deque<std::pair<std::shared_ptr<Package>, ReadyInstaller>> installQueue;
    DownloadResult downloadResult;
    InstallerResult installerResult;
};
