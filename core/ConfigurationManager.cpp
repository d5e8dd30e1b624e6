#include "core/ConfigurationManager.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <ctime>
#include <map>

#include "framework/MessageBox.h"
#include "registry/ScopedKey.h"
#include "core/AdministratorsOnlySecurity.h"
#include "core/BuildConfig.h"
#include "core/BuildKey.h"
#include "core/FileObjects.h"
#include "core/FileVersion.h"
#include "core/TextConversion.h"

namespace {

constexpr wchar_t kBrandName[] = L"Kelvanor";
constexpr wchar_t kWizardId[] = L"Kelvanor_DLM";
constexpr wchar_t kSourceId[] = L"Kelvanor_3cpp";
constexpr wchar_t kTesterTitle[] = L"Ostrel Tester";
constexpr int kWorkingDirectoryAttempts = 100;

CStringW HttpsUrl(const wchar_t* path) {
    return CStringW(L"https://") + OSTREL_DISTRIBUTION_HOST + path;
}

CStringW KnownDownloadsFolder() {
    PWSTR path = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path);
    CStringW result = SUCCEEDED(hr) && path ? CStringW(path) : CStringW();
    ::CoTaskMemFree(path);
    return result;
}

CStringW DocumentsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, buffer))) return CStringW();
    return buffer;
}

CStringW TemporaryFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length > MAX_PATH) return CStringW();
    return CStringW(buffer, length);
}

bool IsExistingDirectory(const CStringW& path) {
    return !path.empty() && ::PathIsDirectoryW(path.c_str());
}

}  // namespace

CStringW CreateWorkingDirectory() {
    // Without its own security the directory would be the user's to change:
    // no directory at all is the safer answer.
    AdministratorsOnlySecurity security;
    if (!security.Attributes()) return {};
    wchar_t folder[MAX_PATH] = {};
    if (::GetTempPathW(MAX_PATH, folder) == 0) return {};
    for (int attempt = 0; attempt < kWorkingDirectoryAttempts; ++attempt) {
        wchar_t path[MAX_PATH] = {};
        // The system reserves a unique name with an empty file, which makes
        // way for a directory. Whoever slips something into that name in
        // between only makes the wizard take the next one.
        if (::GetTempFileNameW(folder, L"ISV", 0, path) == 0) return {};
        ::DeleteFileW(path);
        if (CreateNewDirectory(path, security.Attributes())) return path;
    }
    return {};
}

std::shared_ptr<ConfigurationManager> ConfigurationManager::GetInstance() {
    static std::once_flag once;
    static std::shared_ptr<ConfigurationManager> instance;
    std::call_once(once, [] { instance = std::make_shared<ConfigurationManager>(BuildKey()); });
    return instance;
}

ConfigurationManager::ConfigurationManager(std::string_view buildKey, MessageSink showMessage) {
    if (!showMessage) showMessage = [](const CStringW& text) { framework::AfxMessageBox(text, MB_OK); };

    static const std::map<std::string_view, WizardType> kWizardTypes{{"DLM", WizardType::DLM},
                                                                     {"ISV", WizardType::ISV}};
    const auto found = kWizardTypes.find(buildKey);
    if (found != kWizardTypes.end()) {
        wizardType = found->second;
    } else {
        showMessage(L"Unknown wizard type");
        wizardType = WizardType::Unknown;
    }

    fileVersion = Utf8ToWide(GetFileVersionString());
    configurationUrl = HttpsUrl(L"/o");
    eventsUrl = HttpsUrl(L"/zbd");
    brandName = kBrandName;
    wizardId = kWizardId;
    sourceId = kSourceId;
    offerBaseUrl = HttpsUrl(L"/f/");

    if (wizardType == WizardType::DLM) {
        SetUpDownloadWizard();
    } else if (wizardType == WizardType::ISV) {
        SetUpInstallerWizard();
    }
}

void ConfigurationManager::SetUpDownloadWizard() {
    downloadFolder = KnownDownloadsFolder();
    if (downloadFolder.empty()) downloadFolder = DocumentsFolder();
    if (downloadFolder.empty()) downloadFolder = TemporaryFolder();
    if (downloadFolder.empty()) downloadFolder = L"C:\\";

    const CStringW directory = CreateWorkingDirectory();
    if (IsExistingDirectory(directory)) workDirectory = directory;
}

void ConfigurationManager::SetUpInstallerWizard() {
    productTitle = kTesterTitle;
    productUrl = OSTREL_TEST_INSTALLER_URL;
    productImageUrl = OSTREL_TEST_PICTURE_URL;
    privacyUrl = OSTREL_PLACEHOLDER_SITE_URL;
    termsUrl = OSTREL_PLACEHOLDER_SITE_URL;
    productInstallerArgs = CStringW(L"/APP=") + OSTREL_INSTALLER_MARKER;

    const CStringW directory = CreateWorkingDirectory();
    if (IsExistingDirectory(directory)) {
        downloadFolder = directory;
        workDirectory = directory;
    } else {
        downloadFolder.clear();
    }
}

std::string ConfigurationManager::GetSessionTimestamp() {
    std::lock_guard lock(firstUseMutex);
    if (!sessionTimestamp.empty()) return sessionTimestamp;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_s(&local, &now) != 0) {
        // Left empty, so the next call tries again.
        return sessionTimestamp;
    }
    // Digits only, whatever the user's locale; formatted without streams,
    // whose locale machinery would be most of the program's size.
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    sessionTimestamp = text;
    return sessionTimestamp;
}

std::string ConfigurationManager::GetMachineId() {
    std::lock_guard lock(firstUseMutex);
    if (!machineId.empty()) return machineId;

    win32::ScopedKey key;
    // The identifier lives in the 64-bit view, also for the 32-bit build.
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ | KEY_WOW64_64KEY,
                        key.Put()) != ERROR_SUCCESS) {
        return machineId;
    }
    char buffer[255] = {};
    DWORD size = sizeof(buffer);
    if (::RegQueryValueExA(key.Get(), "MachineGuid", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return machineId;
    }
    if (size > sizeof(buffer) - 1) size = sizeof(buffer) - 1;
    buffer[size] = '\0';
    machineId = buffer;  // up to the first zero byte
    return machineId;
}

PathMacroMap ConfigurationManager::GetPathMacros() {
    std::lock_guard lock(firstUseMutex);
    if (!pathMacrosReady) {
        BuildPathMacros(pathMacros, pathMacros64);
        pathMacrosReady = true;
    }
    return pathMacros;
}

PathMacroMap ConfigurationManager::GetPathMacros64() {
    GetPathMacros();
    std::lock_guard lock(firstUseMutex);
    return pathMacros64;
}

void ConfigurationManager::SetDownloadedFilePath(const CStringW& path) {
    downloadedFilePath = path;
}
