#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cctype>
#include <future>
#include <memory>
#include <vector>

#include "core/BuildConfig.h"
#include "core/ConfigurationManager.h"
#include "tests/common/TestSupport.h"

namespace {

using ostrel::testing::NormalisedFolder;
using ostrel::testing::RemoveDirectoryTree;

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, buffer);
    return buffer;
}

std::wstring DownloadsFolder() {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path))) result = path;
    ::CoTaskMemFree(path);
    return result;
}

bool IsEmptyDirectory(const std::wstring& path) {
    return ::PathIsDirectoryW(path.c_str()) && ::PathIsDirectoryEmptyW(path.c_str());
}

// Settings built for one build key, with their working directory removed afterwards.
struct Settings {
    explicit Settings(const char* key)
        : manager(std::make_unique<ConfigurationManager>(key,
                                                         [this](const CStringW& text) { messages.push_back(text); })) {}
    ~Settings() { RemoveDirectoryTree(manager->workDirectory); }
    std::vector<CStringW> messages;
    std::unique_ptr<ConfigurationManager> manager;
};

TEST(ConfigurationManager, DownloadWizardUsesDownloadsAndAFreshWorkingDirectory) {
    Settings settings("DLM");
    const ConfigurationManager& s = *settings.manager;
    EXPECT_TRUE(settings.messages.empty());
    EXPECT_EQ(s.wizardType, WizardType::DLM);
    EXPECT_EQ(NormalisedFolder(s.downloadFolder), NormalisedFolder(DownloadsFolder()));
    ASSERT_FALSE(s.workDirectory.empty());
    EXPECT_TRUE(IsEmptyDirectory(s.workDirectory));
    const std::wstring name = s.workDirectory.substr(s.workDirectory.find_last_of(L'\\') + 1);
    EXPECT_EQ(name.rfind(L"ISV", 0), 0u) << name;
    EXPECT_EQ(NormalisedFolder(s.workDirectory.substr(0, s.workDirectory.find_last_of(L'\\'))),
              NormalisedFolder(TempFolder()));
    // The download wizard learns its product from the server.
    EXPECT_TRUE(s.productTitle.empty());
    EXPECT_TRUE(s.productUrl.empty());
    EXPECT_TRUE(s.productInstallerArgs.empty());
}

TEST(ConfigurationManager, InstallerWizardHasItsBuiltInProductAndOneFolder) {
    Settings settings("ISV");
    const ConfigurationManager& s = *settings.manager;
    EXPECT_EQ(s.wizardType, WizardType::ISV);
    EXPECT_EQ(s.productTitle, L"Ostrel Tester");
    EXPECT_EQ(s.productUrl, OSTREL_TEST_INSTALLER_URL);
    EXPECT_EQ(s.productImageUrl, OSTREL_TEST_PICTURE_URL);
    EXPECT_EQ(s.privacyUrl, OSTREL_PLACEHOLDER_SITE_URL);
    EXPECT_EQ(s.termsUrl, s.privacyUrl);
    EXPECT_EQ(s.productInstallerArgs, std::wstring(L"/APP=") + OSTREL_INSTALLER_MARKER);
    ASSERT_FALSE(s.workDirectory.empty());
    EXPECT_EQ(s.downloadFolder, s.workDirectory);
    EXPECT_TRUE(IsEmptyDirectory(s.workDirectory));
}

TEST(ConfigurationManager, EachInstanceGetsItsOwnWorkingDirectory) {
    Settings first("DLM");
    Settings second("ISV");
    EXPECT_NE(NormalisedFolder(first.manager->workDirectory), NormalisedFolder(second.manager->workDirectory));
}

TEST(ConfigurationManager, UnknownBuildKeyReportsOnceAndSetsNoFolders) {
    Settings settings("XYZ");
    const ConfigurationManager& s = *settings.manager;
    ASSERT_EQ(settings.messages.size(), 1u);
    EXPECT_EQ(settings.messages[0], L"Unknown wizard type");
    EXPECT_EQ(s.wizardType, WizardType::Unknown);
    EXPECT_TRUE(s.downloadFolder.empty());
    EXPECT_TRUE(s.workDirectory.empty());
    // Endpoints and identifiers do not depend on the wizard type.
    const std::wstring host = OSTREL_DISTRIBUTION_HOST;
    EXPECT_EQ(s.configurationUrl, L"https://" + host + L"/o");
    EXPECT_EQ(s.eventsUrl, L"https://" + host + L"/zbd");
    EXPECT_EQ(s.offerBaseUrl, L"https://" + host + L"/f/");
    EXPECT_EQ(s.brandName, L"Kelvanor");
    EXPECT_EQ(s.wizardId, L"Kelvanor_DLM");
    EXPECT_EQ(s.sourceId, L"Kelvanor_3cpp");
}

TEST(ConfigurationManager, FileVersionComesFromTheVersionResource) {
    Settings settings("DLM");
    EXPECT_EQ(settings.manager->fileVersion, L"0.0.9.0");
}

TEST(ConfigurationManager, SessionTimestampIsLocalTimeAndFixedForTheRun) {
    Settings settings("DLM");
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    const std::string first = settings.manager->GetSessionTimestamp();
    ASSERT_EQ(first.size(), 14u) << first;
    for (char c : first) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << first;
    char expectedDay[16];
    std::snprintf(expectedDay, sizeof(expectedDay), "%04u%02u%02u", before.wYear, before.wMonth, before.wDay);
    SYSTEMTIME after;
    ::GetLocalTime(&after);
    if (after.wDay == before.wDay) {
        EXPECT_EQ(first.substr(0, 8), expectedDay);
    }
    ::Sleep(1100);
    EXPECT_EQ(settings.manager->GetSessionTimestamp(), first);
}

TEST(ConfigurationManager, MachineIdIsTheMachineGuidOfThe64BitView) {
    Settings settings("DLM");
    char expected[255] = {};
    DWORD size = sizeof(expected);
    ASSERT_EQ(::RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                             RRF_RT_REG_SZ | 0x00010000 /* RRF_SUBKEY_WOW6464KEY */, nullptr, expected, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(settings.manager->GetMachineId(), expected);
    EXPECT_EQ(settings.manager->GetMachineId().size(), 36u);
}

TEST(ConfigurationManager, SharedInstanceIsCreatedOnceEvenWhenThreadsRace) {
    std::vector<std::future<ConfigurationManager*>> askers;
    for (int i = 0; i < 8; ++i) {
        askers.push_back(std::async(std::launch::async, [] { return ConfigurationManager::GetInstance().get(); }));
    }
    ConfigurationManager* first = askers[0].get();
    ASSERT_NE(first, nullptr);
    for (size_t i = 1; i < askers.size(); ++i) EXPECT_EQ(askers[i].get(), first);
    // This test program is built with the download wizard's key.
    EXPECT_EQ(first->wizardType, WizardType::DLM);
}

}  // namespace
