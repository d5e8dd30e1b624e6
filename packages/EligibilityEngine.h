// Decides, offer by offer and in the server's order, which offers the wizard
// keeps: below the server's limit, one per product category, and only when
// the machine passes every requirement the offer states. Every rejection but
// the limit is reported with its reason. One engine per configuration; it
// measures the machine lazily and keeps the measurements.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "registry/RegistryKeyCache.h"

class Package;

class EligibilityEngine {
public:
    // One application registered under App Paths, in one root and view.
    struct AppPathsEntry {
        HKEY root = nullptr;
        REGSAM viewFlag = 0;
        std::wstring path;
        bool resolved = false;
    };

    explicit EligibilityEngine(int maxOffers);
    EligibilityEngine(const EligibilityEngine&) = delete;
    EligibilityEngine& operator=(const EligibilityEngine&) = delete;

    // True when the offer is kept. limitReached turns true (and stays so)
    // once the limit stops further offers.
    bool Evaluate(const std::shared_ptr<Package>& offer, bool& limitReached);

    bool IsAppInstalled(const std::wstring& name);

    const win32::RegistryKeyCache& KeyCache() const { return registryKeyCache; }

    // The names of the checks in the order they run.
    static std::vector<std::string> CheckNames();

private:
    // One requirement of an offer: true when the offer is rejected, and then
    // the rejection with its reason has been reported.
    using RejectionCheck = bool (EligibilityEngine::*)(const std::shared_ptr<Package>& offer);
    struct NamedCheck {
        const char* name;
        RejectionCheck rejects;
    };
    // Every check, in the order they run; the first that rejects ends the
    // evaluation, so each offer is reported at most once.
    static const NamedCheck kChecks[];

    bool RejectedByCategory(const std::shared_ptr<Package>& offer);
    bool RejectedByDiskSpace(const std::shared_ptr<Package>& offer);
    bool RejectedByMemory(const std::shared_ptr<Package>& offer);
    bool RejectedByOsVersion(const std::shared_ptr<Package>& offer);
    bool RejectedByThirtyTwoBitOs(const std::shared_ptr<Package>& offer);
    bool RejectedByExistingFile(const std::shared_ptr<Package>& offer);
    bool RejectedByRunningProcess(const std::shared_ptr<Package>& offer);
    bool RejectedByRegistryKey(const std::shared_ptr<Package>& offer);
    bool RejectedByRegistryValue(const std::shared_ptr<Package>& offer);
    bool RejectedByRegistryValueData(const std::shared_ptr<Package>& offer);
    bool RejectedByMissingApp(const std::shared_ptr<Package>& offer);
    bool RejectedByExcludedApp(const std::shared_ptr<Package>& offer);
    void LoadRunningProcesses();
    void BuildAppPathsIndex();
    std::wstring ReadAppPath(HKEY root, REGSAM viewFlag, const std::wstring& name);

    std::unordered_set<int> verticals;
    std::int32_t acceptedCount = 0;
    std::int32_t maxOffers = 0;
    std::vector<std::wstring> runningProcesses;
    std::uint64_t freeDiskMb = 0;
    bool freeDiskKnown = false;
    std::uint64_t totalRamMb = 0;
    bool totalRamKnown = false;
    std::multimap<std::wstring, AppPathsEntry> appPathsIndex;
    win32::RegistryKeyCache registryKeyCache;
};

// Sends the rejection of an offer with its reason.
void ReportRejection(const std::shared_ptr<Package>& offer, const std::string& reason);
