#include "packages/EligibilityEngine.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>

#include "api/EventProtocol.h"
#include "framework/Handles.h"
#include "packages/LocalPaths.h"
#include "packages/Package.h"
#include "registry/RegistryView.h"
#include "core/PathMacros.h"
#include "core/SystemInfo.h"
#include "core/TextConversion.h"

namespace {

struct WindowsVersion {
    int code;
    WORD major;
    WORD minor;
};

constexpr WindowsVersion kWindowsVersions[] = {{61, 6, 1}, {62, 6, 2}, {63, 6, 3}, {100, 10, 0}};

std::wstring LowerCase(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

size_t CountFullStops(const std::wstring& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), L'.'));
}

}  // namespace

void ReportRejection(const std::shared_ptr<Package>& offer, const std::string& reason) {
    offer->SendEvent(EventType::Rejected, nlohmann::json{{event_field::kRejectionReason, reason}});
}

// The cheap checks on what the engine already knows come first, then the
// machine's measurements, then what must be looked up on disk and in the
// registry; a check after the rejecting one measures nothing.
const EligibilityEngine::NamedCheck EligibilityEngine::kChecks[] = {
    {"category", &EligibilityEngine::RejectedByCategory},
    {"disk space", &EligibilityEngine::RejectedByDiskSpace},
    {"memory", &EligibilityEngine::RejectedByMemory},
    {"os version", &EligibilityEngine::RejectedByOsVersion},
    {"64-bit os", &EligibilityEngine::RejectedByThirtyTwoBitOs},
    {"existing file", &EligibilityEngine::RejectedByExistingFile},
    {"running process", &EligibilityEngine::RejectedByRunningProcess},
    {"registry key", &EligibilityEngine::RejectedByRegistryKey},
    {"registry value", &EligibilityEngine::RejectedByRegistryValue},
    {"registry value data", &EligibilityEngine::RejectedByRegistryValueData},
    {"missing app", &EligibilityEngine::RejectedByMissingApp},
    {"excluded app", &EligibilityEngine::RejectedByExcludedApp},
};

EligibilityEngine::EligibilityEngine(int maxOffersIn) : maxOffers(maxOffersIn) {
}

std::vector<std::string> EligibilityEngine::CheckNames() {
    std::vector<std::string> names;
    for (const NamedCheck& check : kChecks) names.emplace_back(check.name);
    return names;
}

bool EligibilityEngine::Evaluate(const std::shared_ptr<Package>& offer, bool& limitReached) {
    if (acceptedCount >= maxOffers) {
        limitReached = true;
        return false;
    }
    for (const NamedCheck& check : kChecks) {
        if ((this->*check.rejects)(offer)) return false;
    }
    ++acceptedCount;
    verticals.insert(offer->Vertical());
    return true;
}

bool EligibilityEngine::RejectedByCategory(const std::shared_ptr<Package>& offer) {
    const int vertical = offer->Vertical();
    if (verticals.count(vertical) == 0) return false;
    ReportRejection(offer, vertical == -1 ? "MULTIPLE OFFERS W/O VERTICAL" : "SAME VERTICAL OFFER ALREADY PRESENT");
    return true;
}

bool EligibilityEngine::RejectedByDiskSpace(const std::shared_ptr<Package>& offer) {
    if (offer->MinFreeDiskMb() == 0) return false;
    if (!freeDiskKnown) {
        // The default user's desktop names the system volume.
        const CStringW desktop = GetKnownFolderPath(FOLDERID_Desktop, true);
        const CStringW volume = desktop.substr(0, 3);
        ULARGE_INTEGER available{};
        if (!::GetDiskFreeSpaceExW(volume.c_str(), &available, nullptr, nullptr)) {
            ReportRejection(offer, "DISK SPACE CHECK FAILED " + std::to_string(::GetLastError()));
            return true;
        }
        freeDiskMb = available.QuadPart >> 20;
        freeDiskKnown = true;
    }
    if (freeDiskMb >= offer->MinFreeDiskMb()) return false;
    ReportRejection(offer, "NOT ENOUGH DISK SPACE");
    return true;
}

bool EligibilityEngine::RejectedByMemory(const std::shared_ptr<Package>& offer) {
    if (offer->MinRamMb() == 0) return false;
    if (!totalRamKnown) {
        MEMORYSTATUSEX memory{};
        memory.dwLength = sizeof(memory);
        if (!::GlobalMemoryStatusEx(&memory)) {
            ReportRejection(offer, "RAM CHECK FAILED " + std::to_string(static_cast<unsigned long>(::GetLastError())));
            return true;
        }
        totalRamMb = memory.ullTotalPhys >> 20;
        totalRamKnown = true;
    }
    if (totalRamMb >= offer->MinRamMb()) return false;
    ReportRejection(offer, "NOT ENOUGH RAM");
    return true;
}

bool EligibilityEngine::RejectedByOsVersion(const std::shared_ptr<Package>& offer) {
    const int code = offer->MinOsVersion();
    if (code < 1) return false;
    for (const WindowsVersion& version : kWindowsVersions) {
        if (version.code == code && IsOsVersionAtLeast(version.major, version.minor, 0)) return false;
    }
    ReportRejection(offer, "UNSUPPORTED OS VERSION");
    return true;
}

bool EligibilityEngine::RejectedByThirtyTwoBitOs(const std::shared_ptr<Package>& offer) {
    if (!offer->Requires64BitOs() || win32::IsWow64()) return false;
    ReportRejection(offer, "64 BIT OS REQUIRED");
    return true;
}

bool EligibilityEngine::RejectedByExistingFile(const std::shared_ptr<Package>& offer) {
    for (const CStringW& file : offer->BlockingFiles()) {
        if (LocalPathExists(file)) {
            ReportRejection(offer, "FILE EXISTS");
            return true;
        }
    }
    return false;
}

void EligibilityEngine::LoadRunningProcesses() {
    framework::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        runningProcesses.push_back(LowerCase(entry.szExeFile));
    }
}

bool EligibilityEngine::RejectedByRunningProcess(const std::shared_ptr<Package>& offer) {
    if (runningProcesses.empty()) LoadRunningProcesses();
    for (const std::string& blocking : offer->BlockingProcesses()) {
        const std::wstring wanted = LowerCase(Utf8ToWide(blocking));
        const size_t wantedStops = CountFullStops(wanted);
        for (const std::wstring& running : runningProcesses) {
            std::wstring name = running;
            // An entry without the extension matches the name with any one extension.
            if (wantedStops < CountFullStops(name)) name.resize(name.rfind(L'.'));
            if (name == wanted) {
                ReportRejection(offer, "APPLICATION RUNNING");
                return true;
            }
        }
    }
    return false;
}
