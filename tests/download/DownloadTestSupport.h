// What the download tests share: the file host they talk to, scratch folders
// standing in for the settings' folders, a window that records progress posts,
// and hashes of what arrived.
#pragma once

#include <windows.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/TestServer.h"
#include "tests/common/TestSupport.h"

namespace ostrel::testing {

// OSTREL_DOWNLOAD_SERVER, else 127.0.0.4 (the instance the test run starts for these tests).
std::wstring DownloadServerAddress();

// Two fresh folders put into the settings as download and work folder for the
// life of the object; the settings' own folders come back afterwards.
class ScratchFolders {
public:
    ScratchFolders();
    ~ScratchFolders();
    ScratchFolders(const ScratchFolders&) = delete;
    ScratchFolders& operator=(const ScratchFolders&) = delete;

    const std::wstring& Downloads() const { return downloads_; }
    const std::wstring& Work() const { return work_; }

private:
    std::wstring downloads_;
    std::wstring work_;
    std::wstring savedDownloads_;
    std::wstring savedWork_;
};

// Names of the files in a folder, sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
// Lower-case hex SHA-256 of a file's bytes; "" when it cannot be read.
std::string FileSha256(const std::wstring& path);
// The system's text for an error code, computed here, to compare failure texts with.
std::wstring SystemText(DWORD code);
// Narrow ASCII text of a wide one, for readable failure messages.
std::string Narrow(const std::wstring& text);

// One message a progress window received.
struct ProgressPost {
    UINT message;
    WPARAM value;
    bool operator==(const ProgressPost&) const = default;
};

// A message-only window that records the download messages posted to it, in
// the order they arrive.
class ProgressRecorder {
public:
    ProgressRecorder();
    ~ProgressRecorder();
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;

    HWND Window() const { return window_; }
    const std::vector<ProgressPost>& Posts() const { return posts_; }
    // WM_DOWNLOAD_PROGRESS values in order.
    std::vector<WPARAM> Percentages() const;
    size_t SizeUnknownCount() const;

    // Pumps this thread's messages until the future is ready, then once more
    // for what was posted last; returns the future's value.
    template <typename T>
    T Wait(std::future<T>& future) {
        while (future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) Pump(10);
        Pump(0);
        return future.get();
    }

    // Delivers what has been posted so far.
    void PumpPending() { Pump(0); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Pump(DWORD waitMs);

    HWND window_ = nullptr;
    std::vector<ProgressPost> posts_;
};

// Base of the download test fixtures: a reset file host and scratch folders.
class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sets a behaviour; fails the test when the host refuses it.
    void Serve(const nlohmann::json& behaviour);
    std::string ServedSha256(const std::wstring& path) const;
    size_t RequestCount(const std::wstring& path) const;

    TestServer host{DownloadServerAddress()};
    std::unique_ptr<ScratchFolders> folders;
};

}  // namespace ostrel::testing
