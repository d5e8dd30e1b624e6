// Talks to a reference server's test-control endpoints (/_test/...) over the
// same TLS the wizard uses, trusted through the test prefix's Root store. Every
// control request carries the secret token the server wrote into its data folder
// at start (tools/test-env.sh starts it with --control-token-file).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace ostrel::testing {

class TestServer {
public:
    explicit TestServer(std::wstring address) : address_(std::move(address)) {}

    const std::wstring& Address() const { return address_; }
    std::wstring Url(const std::wstring& path) const { return L"https://" + address_ + path; }
    std::wstring HttpUrl(const std::wstring& path) const { return L"http://" + address_ + path; }

    // Forgets recorded requests, events and fault plans.
    bool Reset() const;
    // Queues a fault plan for one path (see the server's README).
    bool SetFaults(const nlohmann::json& plan) const;
    // Raw bodies received on a path, oldest first.
    nlohmann::json Requests(const std::wstring& path) const;
    // Requests on a path with their headers ("full" records).
    nlohmann::json FullRequests(const std::wstring& path) const;
    // Stored analytics events.
    nlohmann::json Events() const;
    // Waits until at least count events are stored; returns them.
    nlohmann::json WaitForEvents(size_t count, DWORD timeoutMs) const;
    // The event body of a stored event, taken out of its raw envelope.
    static nlohmann::json EventData(const nlohmann::json& stored);
    // Sets how the file host answers one path (see the server's README).
    bool SetFile(const nlohmann::json& behaviour) const;
    // {"path", "size", "sha256"} of what the file host serves on a path; null when nothing.
    nlohmann::json FileInfo(const std::wstring& path) const;
    // Writes a configuration the server answers for a download token ("default" for all others).
    bool WriteConfiguration(const std::wstring& token, const std::string& json) const;
    // Puts a file where the file host serves it as /f/<relativePath>.
    bool WriteServedFile(const std::wstring& relativePath, const std::string& bytes) const;
    // How the server spoils the signatures of its next configuration answers (see the server's README).
    bool SetSignatureTamper(const nlohmann::json& plan) const;
    // A file of the server's data folder; none when it cannot be read.
    std::optional<std::string> ReadDataFile(const std::wstring& relativePath) const;

private:
    // The server's data folder, reached from the Windows side.
    std::wstring DataFolder() const;
    // The token that opens the server's control interface ("" when there is none).
    std::wstring ControlToken() const;
    // A control request answered 200; a control answer parsed (null on failure).
    bool PostControl(const std::wstring& path, const std::string& body) const;
    nlohmann::json GetControl(const std::wstring& path) const;
    bool Send(const wchar_t* method, const std::wstring& path, const std::string& body, std::string& response,
              DWORD& status) const;

    std::wstring address_;
};

}  // namespace ostrel::testing
