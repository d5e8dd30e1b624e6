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

    bool CheckRegistryKeys(const std::shared_ptr<Package>& offer);
    bool CheckRegistryValues(const std::shared_ptr<Package>& offer);
    bool CheckRegistryValueData(const std::shared_ptr<Package>& offer);
    bool CheckApplications(const std::shared_ptr<Package>& offer);
    bool IsAppInstalled(const std::wstring& name);

    const win32::RegistryKeyCache& KeyCache() const { return registryKeyCache; }

private:
    bool CheckVertical(const std::shared_ptr<Package>& offer);
    bool CheckDiskSpace(const std::shared_ptr<Package>& offer);
    bool CheckMemory(const std::shared_ptr<Package>& offer);
    bool CheckOsVersion(const std::shared_ptr<Package>& offer);
    bool Check64BitOs(const std::shared_ptr<Package>& offer);
    bool CheckFiles(const std::shared_ptr<Package>& offer);
    bool CheckProcesses(const std::shared_ptr<Package>& offer);
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
