#include "tests/common/TestServer.h"

#include <winhttp.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "api/WinHttpHandle.h"
#include "core/TextConversion.h"
#include "tests/common/TestSupport.h"

namespace ostrel::testing {

bool TestServer::Send(const wchar_t* method, const std::wstring& path, const std::string& body, std::string& response,
                      DWORD& status) const {
    UniqueWinHttpHandle session(::WinHttpOpen(L"ostrel-tests", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                              WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    UniqueWinHttpHandle connection(::WinHttpConnect(session.Get(), address_.c_str(), INTERNET_DEFAULT_HTTPS_PORT, 0));
    if (!connection) return false;
    UniqueWinHttpHandle request(::WinHttpOpenRequest(connection.Get(), method, path.c_str(), nullptr,
                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     WINHTTP_FLAG_SECURE));
    if (!request) return false;
    const std::wstring headers = L"Content-Type: application/json\r\nX-Control-Token: " + ControlToken();
    if (!::WinHttpSendRequest(request.Get(), headers.c_str(), static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                              static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr)) {
        return false;
    }
    DWORD size = sizeof(status);
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.Get(), &available) || available == 0) break;
        std::vector<char> buffer(available);
        DWORD read = 0;
        if (!::WinHttpReadData(request.Get(), buffer.data(), available, &read)) break;
        response.append(buffer.data(), read);
    }
    return true;
}

bool TestServer::PostControl(const std::wstring& path, const std::string& body) const {
    std::string response;
    DWORD status = 0;
    return Send(L"POST", path, body, response, status) && status == 200;
}

nlohmann::json TestServer::GetControl(const std::wstring& path) const {
    std::string response;
    DWORD status = 0;
    if (!Send(L"GET", path, "", response, status) || status != 200) return nullptr;
    return nlohmann::json::parse(response, nullptr, false);
}

bool TestServer::Reset() const {
    return PostControl(L"/_test/reset", "{}");
}

bool TestServer::SetFaults(const nlohmann::json& plan) const {
    return PostControl(L"/_test/faults", plan.dump());
}

nlohmann::json TestServer::Requests(const std::wstring& path) const {
    return GetControl(L"/_test/requests?path=" + path);
}

nlohmann::json TestServer::FullRequests(const std::wstring& path) const {
    return GetControl(L"/_test/requests?full=1&path=" + path);
}

bool TestServer::SetFile(const nlohmann::json& behaviour) const {
    return PostControl(L"/_test/files", behaviour.dump());
}

nlohmann::json TestServer::FileInfo(const std::wstring& path) const {
    return GetControl(L"/_test/files?path=" + path);
}

nlohmann::json TestServer::Events() const {
    return GetControl(L"/_test/events");
}

nlohmann::json TestServer::WaitForEvents(size_t count, DWORD timeoutMs) const {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    nlohmann::json events;
    do {
        events = Events();
        if (events.is_array() && events.size() >= count) return events;
        ::Sleep(50);
    } while (::GetTickCount64() < end);
    return events;
}

nlohmann::json TestServer::EventData(const nlohmann::json& stored) {
    const nlohmann::json envelope = nlohmann::json::parse(stored.at("raw").get<std::string>());
    return nlohmann::json::parse(envelope.at("data").get<std::string>());
}

std::wstring TestServer::DataFolder() const {
    wchar_t data[MAX_PATH * 2] = {};
    std::wstring folder;
    if (::GetEnvironmentVariableW(L"OSTREL_SERVER_DATA", data, MAX_PATH * 2) > 0) {
        // The server runs on the Linux side; its data folder is reached through Z:.
        folder = std::wstring(L"Z:") + data;
    } else {
        // The test environment's default: build/test-servers beside build/x86_64/bin.
        folder = ProgramFolder() + L"\\..\\..\\test-servers";
    }
    return folder + L"/" + address_;
}

std::wstring TestServer::ControlToken() const {
    // Written by the server at start; read each time, so a restarted server's new
    // token is the one sent.
    std::string token = ReadFileBytes(DataFolder() + L"/control-token").value_or("");
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
    return std::wstring(token.begin(), token.end());
}

bool TestServer::WriteConfiguration(const std::wstring& token, const std::string& json) const {
    return WriteFileBytes(DataFolder() + L"/configs/" + token + L".json", json);
}

bool TestServer::WriteServedFile(const std::wstring& relativePath, const std::string& bytes) const {
    const std::filesystem::path path = std::filesystem::path(DataFolder() + L"/files/" + relativePath);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    return WriteFileBytes(path.wstring(), bytes);
}

bool TestServer::SetSignatureTamper(const nlohmann::json& plan) const {
    return PostControl(L"/_test/signing", plan.dump());
}

std::optional<std::string> TestServer::ReadDataFile(const std::wstring& relativePath) const {
    return ReadFileBytes(DataFolder() + L"\\" + relativePath);
}

}  // namespace ostrel::testing
