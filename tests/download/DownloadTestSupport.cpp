#include "tests/download/DownloadTestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "api/Sha256.h"
#include "download/DownloadMessages.h"
#include "core/ConfigurationManager.h"
#include "tests/common/TestSupport.h"

namespace ostrel::testing {

namespace {

constexpr wchar_t kRecorderClass[] = L"OstrelDownloadProgressRecorder";

}  // namespace

std::wstring DownloadServerAddress() {
    wchar_t buffer[64] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"OSTREL_DOWNLOAD_SERVER", buffer, 64);
    if (length > 0 && length < 64) return buffer;
    return L"127.0.0.4";
}

ScratchFolders::ScratchFolders() : downloads_(MakeTemporaryFolder(L"dld")), work_(MakeTemporaryFolder(L"dlw")) {
    auto settings = ConfigurationManager::GetInstance();
    savedDownloads_ = settings->downloadFolder;
    savedWork_ = settings->workDirectory;
    settings->downloadFolder = downloads_;
    settings->workDirectory = work_;
}

ScratchFolders::~ScratchFolders() {
    auto settings = ConfigurationManager::GetInstance();
    settings->downloadFolder = savedDownloads_;
    settings->workDirectory = savedWork_;
    RemoveDirectoryTree(downloads_);
    RemoveDirectoryTree(work_);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const FolderEntry& entry : ListFolder(folder + L"\\*")) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

std::string FileSha256(const std::wstring& path) {
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return std::string();
    return Sha256Hex(ReadFileBytes(path).value_or(std::string()));
}

std::wstring SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    return text;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

ProgressRecorder::ProgressRecorder() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &ProgressRecorder::WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kRecorderClass;
    ::RegisterClassW(&windowClass);  // fails harmlessly when already registered
    window_ = ::CreateWindowExW(0, kRecorderClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ProgressRecorder::~ProgressRecorder() {
    if (window_) ::DestroyWindow(window_);
}

LRESULT CALLBACK ProgressRecorder::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DOWNLOAD_PROGRESS || message == WM_DOWNLOAD_SIZE_UNKNOWN) {
        auto* self = reinterpret_cast<ProgressRecorder*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) self->posts_.push_back({message, wParam});
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void ProgressRecorder::Pump(DWORD waitMs) {
    if (waitMs > 0) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

std::vector<WPARAM> ProgressRecorder::Percentages() const {
    std::vector<WPARAM> values;
    for (const ProgressPost& post : posts_) {
        if (post.message == WM_DOWNLOAD_PROGRESS) values.push_back(post.value);
    }
    return values;
}

size_t ProgressRecorder::SizeUnknownCount() const {
    return static_cast<size_t>(std::count_if(posts_.begin(), posts_.end(), [](const ProgressPost& post) {
        return post.message == WM_DOWNLOAD_SIZE_UNKNOWN;
    }));
}

void DownloadTest::SetUp() {
    ASSERT_TRUE(host.Reset()) << "reference server on " << Narrow(host.Address()) << " not reachable";
    folders = std::make_unique<ScratchFolders>();
}

void DownloadTest::TearDown() {
    folders.reset();
}

void DownloadTest::Serve(const nlohmann::json& behaviour) {
    ASSERT_TRUE(host.SetFile(behaviour)) << behaviour.dump();
}

std::string DownloadTest::ServedSha256(const std::wstring& path) const {
    const nlohmann::json info = host.FileInfo(path);
    if (!info.is_object() || !info.contains("sha256")) return "no content on " + Narrow(path);
    return info.at("sha256").get<std::string>();
}

size_t DownloadTest::RequestCount(const std::wstring& path) const {
    const nlohmann::json requests = host.Requests(path);
    return requests.is_array() ? requests.size() : 0;
}

}  // namespace ostrel::testing
