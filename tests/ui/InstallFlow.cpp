#include "tests/ui/InstallFlow.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <sstream>

#include "framework/Handles.h"
#include "core/TextConversion.h"
#include "tests/common/TestSupport.h"
#include "tests/install/ZipBuilder.h"

namespace ostrel::testing {

using nlohmann::json;

std::string OfferJson(const std::string& code, int vertical, const std::string& path, const std::string& arguments,
                      const std::string& sha256) {
    json offer = {{"ad", {{"f", "tag-" + code}, {"o", code}}},
                  {"ps",
                   {{"i", "img/" + code + ".png"},
                    {"dn", code + " Tool"},
                    {"u", path},
                    {"p", arguments},
                    {"v", vertical},
                    {"cp", "https://127.0.0.1/site/" + code + "-privacy"},
                    {"ctu", "https://127.0.0.1/site/" + code + "-eula"}}}};
    if (!sha256.empty()) offer["ps"]["sha256"] = sha256;
    return offer.dump();
}

std::string SampleInstallerBytes() {
    return ReadFileBytes(ProgramFolder() + L"\\ostrel_sample_installer.exe").value_or(std::string());
}

std::string ZipHoldingSampleInstaller(const std::string& entryName) {
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"ostrel-test-package.zip";
    {
        ZipBuilder zip(path);
        if (!zip.IsOpen() || !zip.AddBytes("readme.txt", "Read me first.\r\n") ||
            !zip.AddFile(entryName, ProgramFolder() + L"\\ostrel_sample_installer.exe") || !zip.Finish()) {
            return {};
        }
    }
    std::string bytes = ReadFileBytes(path).value_or(std::string());
    ::DeleteFileW(path.c_str());
    return bytes;
}

std::string SevenZipBytes() {
    return std::string("7z\xBC\xAF\x27\x1C", 6) + std::string(64, '\0');
}

DWORD StartErrorOf(const std::string& bytes) {
    const std::wstring folder = MakeTemporaryFolder(L"bad");
    const std::wstring program = folder + L"\\setup.exe";
    DWORD error = 0;
    if (WriteFileBytes(program, bytes)) {
        std::wstring commandLine = L"\"" + program + L"\" ";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION created{};
        if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &created)) {
            // It did start: the caller's expectation will not hold.
            ::TerminateProcess(created.hProcess, 0);
            ::CloseHandle(created.hThread);
            ::CloseHandle(created.hProcess);
        } else {
            error = ::GetLastError();
        }
    }
    RemoveDirectoryTree(folder);
    return error;
}

std::set<std::wstring> WorkingDirectories(const std::wstring& temporaryFolder) {
    std::set<std::wstring> found;
    for (const FolderEntry& entry : ListFolder(temporaryFolder + L"\\ISV*.tmp")) {
        if (entry.isFolder) found.insert(temporaryFolder + L"\\" + entry.name);
    }
    return found;
}

std::wstring DownloadsFolder() {
    wchar_t* path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path))) folder = path;
    ::CoTaskMemFree(path);
    return folder;
}

void RemoveDownloadedProduct(const std::wstring& productPath) {
    ::DeleteFileW(productPath.c_str());
    ::DeleteFileW((productPath + L".runs.jsonl").c_str());
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ParentFolder(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring RunPath(const json& run) {
    return Utf8ToWide(run.at("path").get<std::string>());
}

void EndChildProcesses(DWORD parent, const wchar_t* exeName, const std::set<DWORD>& spared) {
    framework::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !::Process32FirstW(snapshot.Get(), &entry)) return;
    do {
        if (entry.th32ParentProcessID != parent || ::_wcsicmp(entry.szExeFile, exeName) != 0 ||
            spared.count(entry.th32ProcessID)) {
            continue;
        }
        framework::UniqueKernelHandle child(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!child) continue;
        ::TerminateProcess(child.Get(), 0);
        ::WaitForSingleObject(child.Get(), kUiTimeoutMs);
    } while (::Process32NextW(snapshot.Get(), &entry));
}

std::string Describe(RunningWizard& wizard) {
    UiDriver& driver = wizard.driver;
    const std::wstring name = driver.CurrentPageName();
    std::wstring text = L"page on screen: '" + name + L"'";
    if (name == L"ErrorPage") {
        text += L", error: '" + driver.ControlText(driver.CurrentPage(), IDC_ERROR_TITLE) + L"' / '" +
                driver.ControlText(driver.CurrentPage(), IDC_ERROR_TEXT) + L"'";
    }
    return WideToUtf8(text);
}

void InstallFlow::SetUp() {
    ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.1 not reachable";
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(test->test_suite_name()) + "." + test->name();
    recordFile = std::wstring(folder) + L"ostrel-runs-" + Utf8ToWide(name) + L".jsonl";
    ::DeleteFileW(recordFile.c_str());
    temporaryFolder = MakeTemporaryFolder(L"otf");
    ASSERT_TRUE(IsDirectory(temporaryFolder));
}

void InstallFlow::TearDown() {
    ::DeleteFileW(recordFile.c_str());
    RemoveDirectoryTree(temporaryFolder);
}

WizardOptions InstallFlow::Options(std::vector<std::wstring> extra) const {
    WizardOptions options;
    options.environment = std::move(extra);
    options.environment.push_back(L"OSTREL_SAMPLE_RECORD=" + recordFile);
    // The wizard makes its working directory where no other program does.
    options.environment.push_back(L"TMP=" + temporaryFolder);
    options.environment.push_back(L"TEMP=" + temporaryFolder);
    return options;
}

std::vector<json> InstallFlow::Runs() const {
    std::vector<json> runs;
    std::istringstream lines(ReadFileBytes(recordFile).value_or(std::string()));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) runs.push_back(json::parse(line, nullptr, false));
    }
    return runs;
}

std::vector<json> InstallFlow::WaitForRuns(size_t count, DWORD timeoutMs) const {
    UiDriver(0).WaitUntil([&] { return Runs().size() >= count; }, timeoutMs);
    return Runs();
}

std::vector<json> InstallFlow::StoredEvents(size_t count, DWORD timeoutMs) const {
    std::vector<json> bodies;
    for (const json& stored : server.WaitForEvents(count, timeoutMs)) bodies.push_back(TestServer::EventData(stored));
    return bodies;
}

json InstallFlow::FindEvent(const std::vector<json>& events, const std::string& type, const std::string& offerCode) {
    for (const json& event : events) {
        if (event.value("6", "") == type && event.value("5", "") == offerCode) return event;
    }
    return nullptr;
}

HWND InstallFlow::WalkOffers(RunningWizard& wizard, HWND welcome, const std::vector<bool>& accept,
                             const std::wstring& next) {
    UiDriver& driver = wizard.driver;
    if (!driver.Click(welcome, IDC_NEXT)) return nullptr;
    HWND previous = welcome;
    for (const bool yes : accept) {
        HWND page = nullptr;
        // Judged on one look: while pages switch, two may be on screen.
        if (!driver.WaitUntil([&] { return (page = driver.CurrentPage()) != nullptr && page != previous; },
                              kUiTimeoutMs) ||
            driver.Text(page) != L"ProductPage") {
            return nullptr;
        }
        previous = page;
        if (!driver.Click(page, yes ? IDC_ACCEPT : IDC_DECLINE)) return nullptr;
    }
    return driver.WaitForPage(next, kUiTimeoutMs);
}

std::wstring InstallFlow::NewWorkingDirectory() const {
    const std::set<std::wstring> directories = WorkingDirectories(temporaryFolder);
    return directories.size() == 1 ? *directories.begin() : std::wstring();
}

void InstallFlow::WaitForInstallersToEnd() const {
    for (const json& run : Runs()) {
        framework::UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, run.value("pid", 0u)));
        if (process) ::WaitForSingleObject(process.Get(), kUiTimeoutMs);
    }
}

}  // namespace ostrel::testing
