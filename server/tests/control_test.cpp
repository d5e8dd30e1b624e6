// The /_test/ control interface: there only when the server has a token, and then
// only for requests that carry it. Everyone else sees a path nothing serves.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "server.h"
#include "server_fixture.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kToken = "0c1d2e3f4a5b6c7d8e9f0a1b2c3d4e5f6a7b8c9d0e1f2a3b4c5d6e7f8a9b0c1d";
constexpr const char* kTokenHeader = "X-Control-Token";

struct Answer {
  int status = 0;
  std::string body;
  bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& answer) { return out << answer.status << " " << answer.body; }

struct ControlRequest {
  std::string method;
  std::string target;
  std::string body;
};

// Every control request a test makes, the writing ones with bodies that would
// change what the public endpoints answer.
const std::vector<ControlRequest> kControlRequests = {
    {"GET", "/_test/requests", ""},
    {"GET", "/_test/requests?path=/o&full=1", ""},
    {"GET", "/_test/events", ""},
    {"GET", "/_test/report?format=json", ""},
    {"GET", "/_test/faults", ""},
    {"GET", "/_test/files?path=/f/a.bin", ""},
    {"POST", "/_test/faults", R"({"path":"/o","statuses":[503]})"},
    {"POST", "/_test/files", R"({"path":"/f/a.bin","body":"planted"})"},
    {"POST", "/_test/reset", "{}"},
};

class ControlInterfaceTest : public testing::ServerFixture<5> {
 protected:
  void Start(std::optional<std::string> token) {
    WriteFile(data_.path() / "configs" / "default.json", "{}");
    WriteFile(data_.path() / "files" / "a.bin", "original");
    ServerOptions options = Options();
    options.httpPort = 0;
    options.controlToken = std::move(token);
    StartServer(options);
  }

  Answer Send(bool secure, const ControlRequest& request, const httplib::Headers& headers,
              const std::string& contentType = "application/json") {
    auto send = [&](auto& client) {
      auto res = request.method == "GET"
                     ? client.Get(request.target.c_str(), headers)
                     : client.Post(request.target.c_str(), headers, request.body, contentType.c_str());
      return res ? Answer{res->status, res->body} : Answer{};
    };
    if (secure) return send(*Secure());
    httplib::Client client(address_, *server_->HttpPort());
    return send(client);
  }

  std::unique_ptr<httplib::SSLClient> Secure() {
    auto client = std::make_unique<httplib::SSLClient>(address_, server_->HttpsPort());
    client->set_ca_cert_path(certs_.ca.c_str());
    client->enable_server_certificate_verification(true);
    return client;
  }

  // What a path nothing serves gets with the same method.
  Answer Unserved(bool secure, const std::string& method) { return Send(secure, {method, "/no-such-thing", "{}"}, {}); }

  // The public endpoints still answer as if no control request had come in.
  void ExpectNothingChanged() {
    auto client = Secure();
    auto config = client->Post("/o", "{}", "application/json");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->status, 200) << "a fault plan took effect";
    auto file = client->Get("/f/a.bin");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->body, "original") << "a file behaviour took effect";
    for (const RequestRecord& record : server_->GetStore().Requests(std::nullopt)) {
      EXPECT_EQ(record.path.rfind("/_test/", 0), std::string::npos) << record.path << " was recorded";
    }
  }
};

TEST_F(ControlInterfaceTest, WithoutATokenTheInterfaceDoesNotExist) {
  Start(std::nullopt);
  for (bool secure : {true, false}) {
    for (const ControlRequest& request : kControlRequests) {
      const Answer unserved = Unserved(secure, request.method);
      ASSERT_EQ(unserved.status, 404);
      EXPECT_EQ(Send(secure, request, {}), unserved) << request.method << " " << request.target;
      // A token cannot open what is not there.
      EXPECT_EQ(Send(secure, request, {{kTokenHeader, kToken}}), unserved) << request.target;
    }
  }
  ExpectNothingChanged();
}

TEST_F(ControlInterfaceTest, OnlyTheExactTokenOpensIt) {
  Start(kToken);
  const std::string token = kToken;
  std::string upper = token;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::vector<httplib::Headers> refused = {
      {},
      {{kTokenHeader, ""}},
      {{kTokenHeader, "wrong"}},
      {{kTokenHeader, token.substr(0, token.size() - 1)}},
      {{kTokenHeader, token + "0"}},
      {{kTokenHeader, upper}},
      {{kTokenHeader, "wrong"}, {kTokenHeader, token}},
      {{"Authorization", "Bearer " + token}},
      {{"Cookie", std::string(kTokenHeader) + "=" + token}},
  };
  for (bool secure : {true, false}) {
    for (const ControlRequest& request : kControlRequests) {
      const Answer unserved = Unserved(secure, request.method);
      for (std::size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(Send(secure, request, refused[i]), unserved) << request.target << " with headers #" << i;
      }
      ControlRequest inQuery = request;
      inQuery.target += (request.target.find('?') == std::string::npos ? "?" : "&") + std::string("token=") + token;
      EXPECT_EQ(Send(secure, inQuery, {}), unserved) << inQuery.target;
    }
  }
  // What a web page can make a browser send: a form post without the header.
  const ControlRequest plan{"POST", "/_test/faults", R"({"path":"/o","statuses":[503]})"};
  EXPECT_EQ(Send(true, plan, {}, "application/x-www-form-urlencoded"), Unserved(true, "POST"));
  EXPECT_EQ(Send(true, plan, {}, "text/plain"), Unserved(true, "POST"));
  ExpectNothingChanged();

  // With the token every request works, on both listeners.
  for (bool secure : {true, false}) {
    for (const ControlRequest& request : kControlRequests) {
      EXPECT_EQ(Send(secure, request, {{kTokenHeader, token}}).status, 200) << request.target;
    }
  }
  ASSERT_EQ(Send(true, plan, {{kTokenHeader, token}}).status, 200);
  auto config = Secure()->Post("/o", "{}", "application/json");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->status, 503);
}

// The real program: the option writes a fresh token for this user only.
TEST(ControlTokenFileTest, ServeWritesAPrivateTokenThatOpensTheInterface) {
  TempDir dir;
  TempDir data;
  const std::string address = testing::LoopbackAddressFor(23);
  auto certs = testing::MakeCertificates(dir.path(), {address});
  const auto tokenFile = dir.path() / "control-token";
  const auto pidFile = dir.path() / "server.pid";
  const auto logFile = dir.path() / "server.log";

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::freopen(logFile.c_str(), "w", stderr);
    execl(OSTREL_SERVER_BINARY, OSTREL_SERVER_BINARY, "serve", "--address", address.c_str(), "--port", "0", "--cert",
          certs.cert.c_str(), "--key", certs.key.c_str(), "--data", data.path().c_str(), "--pid-file", pidFile.c_str(),
          "--control-token-file", tokenFile.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  struct StopAtEnd {
    pid_t pid;
    ~StopAtEnd() {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  } stop{child};
  for (int i = 0; i < 1000 && !std::filesystem::exists(pidFile); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(std::filesystem::exists(pidFile)) << ReadFile(logFile);
  std::smatch port;
  const std::string log = ReadFile(logFile);
  ASSERT_TRUE(std::regex_search(log, port, std::regex("listening on https://[0-9.]+:([0-9]+)"))) << log;

  struct stat info {};
  ASSERT_EQ(::stat(tokenFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::string token = ReadFile(tokenFile);
  ASSERT_FALSE(token.empty());
  ASSERT_EQ(token.back(), '\n');
  token.pop_back();
  EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{64}"))) << token;
  EXPECT_EQ(log.find(token), std::string::npos) << "the token must not reach the log";

  httplib::SSLClient client(address, std::stoi(port[1]));
  client.set_ca_cert_path(certs.ca.c_str());
  client.enable_server_certificate_verification(true);
  auto without = client.Get("/_test/events");
  ASSERT_TRUE(without);
  EXPECT_EQ(without->status, 404);
  auto with = client.Get("/_test/events", {{kTokenHeader, token}});
  ASSERT_TRUE(with);
  EXPECT_EQ(with->status, 200);
  EXPECT_EQ(with->body, "[]");
}

}  // namespace
}  // namespace ostrel
