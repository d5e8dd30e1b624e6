// Real TLS round trips: the server runs in this process (or as a child process) on a
// loopback address with a certificate from make-test-ca.sh, and httplib's client
// checks that certificate against the test CA.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "server.h"
#include "server_fixture.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::EventEnvelope;
using testing::ReadFile;
using testing::SignatureFor;
using testing::TempDir;
using testing::WizardEvent;
using testing::WriteFile;

struct Reply {
  int status = 0;
  std::string body;
  std::string contentType;
};

std::unique_ptr<httplib::SSLClient> VerifyingClient(const std::string& address, int port,
                                                    const std::filesystem::path& ca) {
  auto client = std::make_unique<httplib::SSLClient>(address, port);
  client->set_ca_cert_path(ca.c_str());
  client->enable_server_certificate_verification(true);
  client->set_connection_timeout(5);
  client->set_read_timeout(20);
  return client;
}

std::string WizardConfigRequest(const std::string& token) {
  return json{{"a", "Kelvanor"}, {"i", "Kelvanor_DLM"},  {"l", "en"}, {"o", "10.0.19045"}, {"plv", "1.0.0.0"},
              {"prv", "0.1"},    {"s", "Kelvanor_3cpp"}, {"u", token}}
      .dump();
}

constexpr const char* kControlToken = "7f3a9c0e5d2b4a6f8e1c3b5d7a9f0e2c4b6d8a0f1e3c5b7d9a2f4e6c8b0d1a3f";

// What a test sends to the control interface.
httplib::Headers ControlHeaders() { return {{"X-Control-Token", kControlToken}}; }

// The two headers the wizard's JSON client adds to every POST.
httplib::Headers WizardHeaders(const std::string& authorization = {}) {
  httplib::Headers headers;
  if (!authorization.empty()) headers.emplace("Authorization", authorization);
  headers.emplace("Expect", "100-continue");
  return headers;
}

class HttpsTest : public testing::ServerFixture<0> {
 protected:
  void SetUp() override {
    WriteFile(data_.path() / "configs" / "default.json", kDefaultConfig);
    WriteFile(data_.path() / "configs" / "ab1-c2d.json", kTokenConfig);
    server_ = ServerOn(address_, std::nullopt);
  }

  // A server of this test's data and control token on the given address.
  std::unique_ptr<OstrelServer> ServerOn(const std::string& address, std::optional<int> httpPort) {
    ServerOptions options = Options();
    options.address = address;
    options.httpPort = httpPort;
    options.controlToken = kControlToken;
    auto server = std::make_unique<OstrelServer>(options);
    server->Start();
    return server;
  }

  Reply Post(const std::string& path, const std::string& body, const httplib::Headers& headers = WizardHeaders()) {
    auto client = VerifyingClient(address_, server_->HttpsPort(), certs_.ca);
    auto res = client->Post(path.c_str(), headers, body, "application/json");
    if (!res) {
      ADD_FAILURE() << "POST " << path << " failed: " << httplib::to_string(res.error());
      return {};
    }
    return {res->status, res->body, res->get_header_value("Content-Type")};
  }

  json GetJson(const std::string& target) {
    auto client = VerifyingClient(address_, server_->HttpsPort(), certs_.ca);
    auto res = client->Get(target.c_str(), ControlHeaders());
    if (!res || res->status != 200) {
      ADD_FAILURE() << "GET " << target << " failed";
      return json();
    }
    return json::parse(res->body);
  }

  Reply SetFaults(const json& plan) { return Post("/_test/faults", plan.dump(), ControlHeaders()); }

  static constexpr const char* kDefaultConfig = R"({"i":{"ct":"Default App","cu":"https://example.invalid/a.exe"}})";
  static constexpr const char* kTokenConfig = "{\"i\":{\"ct\":\"Token App\",\"cu\":\"u\"},\n \"l\":\"de\"}\n";
};

TEST_F(HttpsTest, ConfigRequestGetsFileBytesAndIsRecordedVerbatim) {
  std::string withToken = WizardConfigRequest("ab1-c2d");
  std::string traversal = WizardConfigRequest("../configs/ab1-c2d");
  std::string unknown = WizardConfigRequest("zz9-zzz");

  Reply token = Post("/o", withToken);
  EXPECT_EQ(token.status, 200);
  EXPECT_EQ(token.body, ReadFile(data_.path() / "configs" / "ab1-c2d.json"));
  EXPECT_EQ(token.contentType, "application/json");
  Reply viaTraversal = Post("/o", traversal);
  EXPECT_EQ(viaTraversal.body, ReadFile(data_.path() / "configs" / "default.json"));
  Reply fallback = Post("/o", unknown);
  EXPECT_EQ(fallback.status, 200);
  EXPECT_EQ(fallback.body, ReadFile(data_.path() / "configs" / "default.json"));
  EXPECT_EQ(Post("/o", "not json").status, 400);

  EXPECT_EQ(GetJson("/_test/requests?path=/o"), json({withToken, traversal, unknown, "not json"}));

  json full = GetJson("/_test/requests?path=/o&full=1");
  ASSERT_EQ(full.size(), 4u);
  EXPECT_EQ(full[0]["status"], 200);
  EXPECT_EQ(full[3]["status"], 400);
  EXPECT_EQ(full[0]["method"], "POST");
  EXPECT_EQ(full[0]["listener"], "https");
  bool sawExpect = false;
  for (const json& header : full[0]["headers"]) sawExpect |= header == json({"Expect", "100-continue"});
  EXPECT_TRUE(sawExpect) << full[0]["headers"];
}

TEST_F(HttpsTest, SignedEventIsStoredUnsignedOnesAreRefused) {
  json event = WizardEvent({{"5", "OFR-1"}, {"6", "4"}, {"10", 2}, {"17", "1"}, {"22", "Kelvanor Pro"}});
  std::string body = EventEnvelope(event);
  std::string wrong = SignatureFor(WizardEvent({{"1", "another machine"}}));

  EXPECT_EQ(Post("/zbd", body, WizardHeaders(wrong)).status, 401);
  EXPECT_EQ(Post("/zbd", body, WizardHeaders()).status, 401);
  EXPECT_EQ(Post("/zbd", body, WizardHeaders(SignatureFor(event))).status, 200);

  json events = GetJson("/_test/events");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["fields"], event);
  EXPECT_EQ(events[0]["raw"], body);
  EXPECT_EQ(events[0]["table"], "zb_analytics");

  json full = GetJson("/_test/requests?path=/zbd&full=1");
  ASSERT_EQ(full.size(), 3u);
  EXPECT_EQ(full[0]["status"], 401);
  EXPECT_EQ(full[1]["status"], 401);
  EXPECT_EQ(full[2]["status"], 200);

  json report = GetJson("/_test/report?format=json");
  ASSERT_EQ(report["products"].size(), 1u);
  EXPECT_EQ(report["products"][0]["product"], "Kelvanor Pro");
  EXPECT_EQ(report["products"][0]["packages"][0]["offer"], "OFR-1");
  EXPECT_EQ(report["products"][0]["packages"][0]["counts"]["declined"], 1);
}

TEST_F(HttpsTest, ConcurrentEventsAreAllStored) {
  constexpr int kEvents = 24;
  std::vector<std::thread> senders;
  std::atomic<int> accepted{0};
  for (int i = 0; i < kEvents; ++i) {
    senders.emplace_back([this, i, &accepted] {
      json event = WizardEvent({{"5", "OFR-" + std::to_string(i)}, {"6", "5"}, {"10", 2}, {"22", "P"}});
      auto client = VerifyingClient(address_, server_->HttpsPort(), certs_.ca);
      auto res = client->Post("/zbd", WizardHeaders(SignatureFor(event)), EventEnvelope(event), "application/json");
      if (res && res->status == 200) ++accepted;
    });
  }
  for (auto& t : senders) t.join();
  EXPECT_EQ(accepted, kEvents);

  std::set<std::string> offers;
  for (const json& e : GetJson("/_test/events")) offers.insert(e["fields"]["5"].get<std::string>());
  EXPECT_EQ(offers.size(), static_cast<std::size_t>(kEvents));
}

TEST_F(HttpsTest, FaultSequenceIsUsedUpInOrderThenServiceIsNormal) {
  Reply set = SetFaults({{"path", "/o"}, {"statuses", {503, 500, 200}}, {"bodies", {"not json", nullptr, " \r\n"}}});
  ASSERT_EQ(set.status, 200) << set.body;
  EXPECT_EQ(json::parse(set.body)["steps"], 3);
  EXPECT_EQ(GetJson("/_test/faults")["/o"].size(), 3u);

  std::string request = WizardConfigRequest("ab1-c2d");
  Reply first = Post("/o", request);
  EXPECT_EQ(first.status, 503);
  EXPECT_EQ(first.body, "not json");
  Reply second = Post("/o", request);
  EXPECT_EQ(second.status, 500);
  EXPECT_EQ(second.body, "");
  Reply third = Post("/o", request);
  EXPECT_EQ(third.status, 200);
  EXPECT_EQ(third.body, " \r\n");
  Reply normal = Post("/o", request);
  EXPECT_EQ(normal.status, 200);
  EXPECT_EQ(normal.body, kTokenConfig);
  EXPECT_TRUE(GetJson("/_test/faults").empty());

  // Every attempt reached the server and is recorded with what it was answered.
  json full = GetJson("/_test/requests?path=/o&full=1");
  ASSERT_EQ(full.size(), 4u);
  for (std::size_t i = 0; i < full.size(); ++i) EXPECT_EQ(full[i]["body"], request) << i;
  EXPECT_EQ(full[0]["status"], 503);
  EXPECT_EQ(full[1]["status"], 500);
  EXPECT_EQ(full[3]["status"], 200);
}

TEST_F(HttpsTest, DroppedRequestsGetNoAnswerAtAllAndAreRecorded) {
  ASSERT_EQ(SetFaults({{"path", "/o"}, {"drop", true}, {"count", 2}}).status, 200);
  const std::string request = WizardConfigRequest("ab1-c2d");
  for (int i = 0; i < 2; ++i) {
    auto client = VerifyingClient(address_, server_->HttpsPort(), certs_.ca);
    auto dropped = client->Post("/o", request, "application/json");
    EXPECT_FALSE(dropped) << i << ": answered " << dropped->status;
  }
  Reply normal = Post("/o", request);
  EXPECT_EQ(normal.status, 200);
  EXPECT_EQ(normal.body, kTokenConfig);
  EXPECT_EQ(GetJson("/_test/requests?path=/o").size(), 3u);
}

TEST_F(HttpsTest, FaultedEventsAreNotStored) {
  json event = WizardEvent({{"5", "OFR-1"}, {"6", "4"}, {"10", 2}, {"22", "P"}});
  httplib::Headers headers = WizardHeaders(SignatureFor(event));
  ASSERT_EQ(SetFaults({{"path", "/zbd"}, {"statuses", {500, 500}}}).status, 200);
  EXPECT_EQ(Post("/zbd", EventEnvelope(event), headers).status, 500);
  EXPECT_EQ(Post("/zbd", EventEnvelope(event), headers).status, 500);
  EXPECT_TRUE(GetJson("/_test/events").empty());
  EXPECT_EQ(Post("/zbd", EventEnvelope(event), headers).status, 200);
  EXPECT_EQ(GetJson("/_test/events").size(), 1u);
  EXPECT_EQ(GetJson("/_test/requests?path=/zbd").size(), 3u);
}

TEST_F(HttpsTest, DelayHoldsTheAnswerBackAndKeepsItNormal) {
  ASSERT_EQ(SetFaults({{"path", "/o"}, {"delayMs", 400}}).status, 200);
  auto start = std::chrono::steady_clock::now();
  Reply delayed = Post("/o", WizardConfigRequest(""));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(400));
  EXPECT_EQ(delayed.status, 200);
  EXPECT_EQ(delayed.body, kDefaultConfig);

  start = std::chrono::steady_clock::now();
  Post("/o", WizardConfigRequest(""));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST_F(HttpsTest, StopDoesNotWaitForADelayedAnswer) {
  ASSERT_EQ(SetFaults({{"path", "/o"}, {"delayMs", 60000}}).status, 200);
  std::thread waiting([this] {
    auto client = VerifyingClient(address_, server_->HttpsPort(), certs_.ca);
    client->Post("/o", WizardHeaders(), WizardConfigRequest(""), "application/json");
  });
  // Let the request reach its delay before stopping.
  for (int i = 0; i < 200 && !GetJson("/_test/faults").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  auto start = std::chrono::steady_clock::now();
  server_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  waiting.join();
}

TEST_F(HttpsTest, ResetForgetsFaultsRequestsAndEvents) {
  json event = WizardEvent({{"6", "1"}, {"22", "P"}});
  ASSERT_EQ(Post("/zbd", EventEnvelope(event), WizardHeaders(SignatureFor(event))).status, 200);
  ASSERT_EQ(SetFaults({{"path", "/o"}, {"statuses", {503}}}).status, 200);
  ASSERT_EQ(Post("/_test/reset", "", ControlHeaders()).status, 200);

  EXPECT_TRUE(GetJson("/_test/events").empty());
  EXPECT_TRUE(GetJson("/_test/requests").empty());
  EXPECT_TRUE(GetJson("/_test/faults").empty());
  EXPECT_EQ(Post("/o", WizardConfigRequest("")).status, 200);
}

TEST_F(HttpsTest, BadFaultPlansAre400) {
  EXPECT_EQ(Post("/_test/faults", "{not json", ControlHeaders()).status, 400);
  EXPECT_EQ(SetFaults({{"path", "/_test/reset"}, {"statuses", {500}}}).status, 400);
  EXPECT_EQ(SetFaults({{"path", "/o"}, {"statuses", {"x"}}}).status, 400);
  EXPECT_TRUE(GetJson("/_test/faults").empty());
}

TEST_F(HttpsTest, UnknownPathsAre404AndOnlyEndpointsAreRecorded) {
  EXPECT_EQ(Post("/nope", "{}").status, 404);
  EXPECT_EQ(Post("/_test/nope", "{}", ControlHeaders()).status, 404);
  auto client = VerifyingClient(address_, server_->HttpsPort(), certs_.ca);
  auto scan = client->Get("/wp-login.php");
  ASSERT_TRUE(scan);
  EXPECT_EQ(scan->status, 404);
  // Real endpoints are recorded whatever their answer.
  EXPECT_EQ(Post("/o", "not json").status, 400);
  auto missing = client->Get("/f/missing.bin");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);

  json all = GetJson("/_test/requests?full=1");
  ASSERT_EQ(all.size(), 2u) << all;
  EXPECT_EQ(all[0]["path"], "/o");
  EXPECT_EQ(all[1]["path"], "/f/missing.bin");
  EXPECT_TRUE(GetJson("/_test/requests?path=/nope").empty());
  // A path a test faults is one it wants to see.
  ASSERT_EQ(SetFaults({{"path", "/nope"}, {"statuses", {503}}}).status, 200);
  EXPECT_EQ(Post("/nope", "{}").status, 503);
  EXPECT_EQ(GetJson("/_test/requests?path=/nope"), json({"{}"}));
}

// The wizard sends "Expect: 100-continue" with the body right behind it. Wine's
// WinHTTP rejects an interim "100 Continue", so the first bytes back must be the final
// status line.
TEST_F(HttpsTest, ExpectContinueGetsOnlyTheFinalResponse) {
  std::string body = WizardConfigRequest("ab1-c2d");
  std::string head = "POST /o HTTP/1.1\r\nHost: " + address_ +
                     "\r\nConnection: close\r\nExpect: 100-continue\r\nContent-Type: application/json\r\n"
                     "Content-Length: " +
                     std::to_string(body.size()) + "\r\n\r\n";
  std::string expected = ReadFile(data_.path() / "configs" / "ab1-c2d.json");

  std::string together = testing::RawExchange(address_, server_->HttpsPort(), certs_.ca, {head + body});
  EXPECT_EQ(together.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << together;
  EXPECT_EQ(together.find("100 Continue"), std::string::npos) << together;
  ASSERT_GE(together.size(), expected.size());
  EXPECT_EQ(together.substr(together.size() - expected.size()), expected);

  // A client that waits before sending the body is still answered once it arrives.
  std::string later = testing::RawExchange(address_, server_->HttpsPort(), certs_.ca, {head, body}, 300);
  EXPECT_EQ(later.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << later;
  EXPECT_EQ(later.find("100 Continue"), std::string::npos) << later;

  EXPECT_EQ(GetJson("/_test/requests?path=/o"), json({body, body}));
}

TEST_F(HttpsTest, KeepAliveServesSeveralRequestsOnOneConnection) {
  auto client = VerifyingClient(address_, server_->HttpsPort(), certs_.ca);
  client->set_keep_alive(true);
  for (const std::string token : {"ab1-c2d", "zz9-zzz", "ab1-c2d"}) {
    auto res = client->Post("/o", WizardHeaders(), WizardConfigRequest(token), "application/json");
    ASSERT_TRUE(res) << token;
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, token == "ab1-c2d" ? kTokenConfig : kDefaultConfig);
  }
  EXPECT_EQ(GetJson("/_test/requests?path=/o").size(), 3u);
}

TEST_F(HttpsTest, ClientRefusesACertificateItCannotVerify) {
  TempDir otherCa;
  auto other = testing::MakeCertificates(otherCa.path(), {address_});
  auto untrusting = VerifyingClient(address_, server_->HttpsPort(), other.ca);
  EXPECT_FALSE(untrusting->Post("/o", WizardConfigRequest(""), "application/json"));

  // A second instance on an address the certificate does not name.
  std::string elsewhere = testing::LoopbackAddressFor(1);
  ASSERT_NE(elsewhere, address_);
  auto second = ServerOn(elsewhere, std::nullopt);
  auto wrongName = VerifyingClient(elsewhere, second->HttpsPort(), certs_.ca);
  EXPECT_FALSE(wrongName->Post("/o", WizardConfigRequest(""), "application/json"));
  // The same request without verification gets through, so the refusal above was the
  // certificate check.
  httplib::SSLClient lax(elsewhere, second->HttpsPort());
  lax.enable_server_certificate_verification(false);
  auto res = lax.Post("/o", WizardConfigRequest(""), "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST_F(HttpsTest, SecondInstanceCannotTakeAPortInUse) {
  ServerOptions options;
  options.address = address_;
  options.httpsPort = server_->HttpsPort();
  options.certFile = certs_.cert;
  options.keyFile = certs_.key;
  options.dataDir = data_.path() / "second";
  options.logRequests = false;
  OstrelServer second(options);
  EXPECT_THROW(second.Start(), std::runtime_error);
  // The first instance still answers everything.
  EXPECT_EQ(Post("/o", WizardConfigRequest("")).status, 200);
}

TEST_F(HttpsTest, RefusesToListenOutsideLoopback) {
  for (const std::string address : {"0.0.0.0", "10.0.0.1", "192.168.0.1", "::1", "localhost"}) {
    ServerOptions options;
    options.address = address;
    options.httpsPort = 0;
    options.certFile = certs_.cert;
    options.keyFile = certs_.key;
    options.dataDir = data_.path();
    options.logRequests = false;
    OstrelServer server(options);
    EXPECT_THROW(server.Start(), std::runtime_error) << address;
  }
}

TEST_F(HttpsTest, PlainHttpListenerCarriesControlButNotWizardEndpoints) {
  server_->Stop();
  server_ = ServerOn(address_, 0);
  ASSERT_TRUE(server_->HttpPort());
  ASSERT_NE(*server_->HttpPort(), server_->HttpsPort());

  std::string rawPlain =
      testing::RawExchange(address_, *server_->HttpPort(), {},
                           {std::string("GET /_test/faults HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                                        "Expect: 100-continue\r\nX-Control-Token: ") +
                            kControlToken + "\r\n\r\n"});
  EXPECT_EQ(rawPlain.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << rawPlain;

  httplib::Client plain(address_, *server_->HttpPort());
  auto onHttp = plain.Post("/o", WizardConfigRequest(""), "application/json");
  ASSERT_TRUE(onHttp);
  EXPECT_EQ(onHttp->status, 404);
  auto control = plain.Get("/_test/requests?path=/o&full=1", ControlHeaders());
  ASSERT_TRUE(control);
  ASSERT_EQ(control->status, 200);
  json recorded = json::parse(control->body);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0]["listener"], "http");

  EXPECT_EQ(Post("/o", WizardConfigRequest("")).status, 200);
}

// The real program as a person starts it: HTTPS on port 443, pid file, SIGTERM.
TEST(ServeProcessTest, ServesOn443UntilSigtermThenReports) {
  TempDir dir;
  TempDir data;
  WriteFile(data.path() / "configs" / "default.json", "{\"i\":{\"ct\":\"A\",\"cu\":\"b\"}}");
  auto pidFile = dir.path() / "server.pid";
  auto logFile = dir.path() / "server.log";

  // Port 443 of one address may be taken by another instance; try a few.
  pid_t child = -1;
  std::string address;
  testing::TestCertificates certs;
  for (int attempt = 0; attempt < 5 && child < 0; ++attempt) {
    address = testing::LoopbackAddressFor(10 + attempt * 7);
    certs = testing::MakeCertificates(dir.path(), {address});
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::freopen(logFile.c_str(), "w", stderr);
      execl(OSTREL_SERVER_BINARY, OSTREL_SERVER_BINARY, "serve", "--address", address.c_str(), "--cert",
            certs.cert.c_str(), "--key", certs.key.c_str(), "--data", data.path().c_str(), "--pid-file",
            pidFile.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 1000 && !std::filesystem::exists(pidFile); ++i) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;  // could not listen there
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid > 0 && std::filesystem::exists(pidFile)) child = pid;
  }
  ASSERT_GT(child, 0) << ReadFile(logFile);
  // A failed check below must not leave the server running: ctest would wait
  // for the output it holds open.
  struct StopOnFailure {
    pid_t& pid;
    ~StopOnFailure() {
      if (pid <= 0) return;
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  } stopOnFailure{child};
  EXPECT_EQ(ReadFile(pidFile), std::to_string(child) + "\n");

  auto client = VerifyingClient(address, 443, certs.ca);
  auto config = client->Post("/o", WizardHeaders(), WizardConfigRequest(""), "application/json");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->status, 200);
  EXPECT_EQ(config->body, ReadFile(data.path() / "configs" / "default.json"));
  json event = WizardEvent({{"5", "OFR-9"}, {"6", "2"}, {"10", 2}, {"13", "ram"}, {"22", "Kelvanor Pro"}});
  auto sent = client->Post("/zbd", WizardHeaders(SignatureFor(event)), EventEnvelope(event), "application/json");
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->status, 200);

  // Started as a distributor starts it: no control interface at all.
  auto control = client->Get("/_test/events");
  ASSERT_TRUE(control);
  EXPECT_EQ(control->status, 404);
  EXPECT_EQ(control->body.find("Kelvanor"), std::string::npos) << control->body;

  ASSERT_EQ(kill(child, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  child = -1;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(std::filesystem::exists(pidFile));

  std::string log = ReadFile(logFile);
  EXPECT_NE(log.find("listening on https://" + address + ":443"), std::string::npos) << log;
  EXPECT_NE(log.find(" POST /o 200 "), std::string::npos) << log;
  EXPECT_NE(log.find(" POST /zbd 200 "), std::string::npos) << log;

  std::string command = std::string(OSTREL_SERVER_BINARY) + " report --data '" + data.path().string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_TRUE(pipe);
  std::string report;
  char buffer[512];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) report.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_NE(report.find("product \"Kelvanor Pro\"\n"), std::string::npos) << report;
  EXPECT_NE(report.find("  rejected  offer \"OFR-9\"      1  \"ram\"\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace ostrel
