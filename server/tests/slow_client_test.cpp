// Clients that connect and then say nothing, or trickle a request head: they are
// closed once their time for a whole head is up, and however many there are, they
// never keep the endpoints from answering everyone else.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "server.h"
#include "server_fixture.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::EventEnvelope;
using testing::SignatureFor;
using testing::WizardEvent;
using Clock = std::chrono::steady_clock;

// A client socket, closed when it goes.
class ClientSocket {
 public:
  ClientSocket(const std::string& address, int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }
  ~ClientSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  bool Connected() const { return connected_; }
  int Fd() const { return fd_; }
  bool Send(const std::string& bytes) const {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // True once the server has closed its side (end of stream or reset).
  bool ClosedByServer(int waitMs) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return false;
    char byte;
    return ::recv(fd_, &byte, 1, MSG_DONTWAIT) <= 0;
  }

 private:
  int fd_;
  bool connected_ = false;
};

class SlowClientTest : public testing::ServerFixture<41> {
 protected:
  void SetUp() override {
    ServerOptions options = Options();
    options.httpPort = 0;
    StartServer(options);
  }

  // Posts one signed event on a connection of its own; the status, 0 when no
  // answer came within the client's patience.
  int PostEvent(int n) {
    const json event = WizardEvent({{"5", "OFR-" + std::to_string(n)}, {"6", "4"}, {"10", 2}});
    httplib::SSLClient client(address_, server_->HttpsPort());
    client.set_ca_cert_path(certs_.ca.c_str());
    client.enable_server_certificate_verification(true);
    client.set_connection_timeout(2);
    client.set_read_timeout(2);
    client.set_write_timeout(2);
    auto res = client.Post("/zbd", {{"Authorization", SignatureFor(event)}}, EventEnvelope(event), "application/json");
    return res ? res->status : 0;
  }

  // How long after start the server closed the connection; a large value when it
  // did not within limit.
  static Clock::duration ClosedAfter(const ClientSocket& socket, Clock::time_point start,
                                     std::chrono::milliseconds limit) {
    while (Clock::now() - start < limit) {
      if (socket.ClosedByServer(50)) return Clock::now() - start;
    }
    return std::chrono::hours(1);
  }

  static constexpr auto kHeadTimeout = std::chrono::milliseconds(5000);
  // Room for the watcher's sweep and a loaded machine.
  static constexpr auto kSlack = std::chrono::milliseconds(2500);
};

TEST_F(SlowClientTest, HundredsOfIdleConnectionsLeaveTheEndpointsAnswering) {
  const auto opened = Clock::now();
  std::vector<std::unique_ptr<ClientSocket>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<ClientSocket>(address_, i % 3 == 0 ? *server_->HttpPort() : server_->HttpsPort()));
    ASSERT_TRUE(idle.back()->Connected()) << i;
  }
  // Half-sent heads as well: they are the ones a worker might wait on.
  for (int i = 0; i < 20; ++i) {
    idle.push_back(std::make_unique<ClientSocket>(address_, *server_->HttpPort()));
    ASSERT_TRUE(idle.back()->Send("POST /zbd HTTP/1.1\r\nHost: x\r\n"));
  }
  // A burst of connections is accepted at once, not after SYN retries.
  EXPECT_LT(Clock::now() - opened, std::chrono::seconds(1));
  const auto start = Clock::now();
  for (int n = 1; n <= 20; ++n) {
    ASSERT_EQ(PostEvent(n), 200) << "event " << n << " after "
                                 << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()
                                 << " ms";
  }
  EXPECT_EQ(server_->GetStore().Events().size(), 20u);
  // None of them ever sent a whole head: all are closed once their time is up.
  for (std::size_t i = 0; i < idle.size(); ++i) {
    EXPECT_LT(ClosedAfter(*idle[i], start, kHeadTimeout + kSlack), kHeadTimeout + kSlack) << "socket " << i;
  }
}

TEST_F(SlowClientTest, AHeadTrickledInIsCutOffAtItsDeadline) {
  ClientSocket slow(address_, *server_->HttpPort());
  ASSERT_TRUE(slow.Connected());
  const auto start = Clock::now();
  ASSERT_TRUE(slow.Send("POST /zbd HTTP/1.1\r\n"));
  // One header byte a second: every read succeeds long before a read timeout.
  bool closed = false;
  for (int i = 0; i < 12 && !closed; ++i) {
    slow.Send("X");
    closed = slow.ClosedByServer(1000);
  }
  ASSERT_TRUE(closed) << "still open after 12 s";
  const auto after = Clock::now() - start;
  EXPECT_GE(after, kHeadTimeout - std::chrono::milliseconds(100));
  EXPECT_LT(after, kHeadTimeout + kSlack);
}

TEST_F(SlowClientTest, AnIdleTlsConnectionIsClosedAfterItsHandshake) {
  ClientSocket socket(address_, server_->HttpsPort());
  ASSERT_TRUE(socket.Connected());
  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(ctx.get()), SSL_free);
  SSL_set_fd(ssl.get(), socket.Fd());
  const auto start = Clock::now();
  ASSERT_EQ(SSL_connect(ssl.get()), 1);
  EXPECT_LT(ClosedAfter(socket, start, kHeadTimeout + kSlack), kHeadTimeout + kSlack);
}

TEST_F(SlowClientTest, AnEndlessHeadIsCutOffBeforeItFillsMemory) {
  ClientSocket socket(address_, *server_->HttpPort());
  ASSERT_TRUE(socket.Connected());
  const auto start = Clock::now();
  ASSERT_TRUE(socket.Send("GET /f/a.bin HTTP/1.1\r\n"));
  // Header lines, fast, four times past the most a head may hold; then silence.
  const std::string line = "X-Filler: " + std::string(1000, 'x') + "\r\n";
  for (std::size_t sent = 0; sent < 256 * 1024 && socket.Send(line);) sent += line.size();
  // Closed for its size long before the head timeout would close it.
  EXPECT_TRUE(socket.ClosedByServer(2000));
  EXPECT_LT(Clock::now() - start, kHeadTimeout - std::chrono::milliseconds(1000));
}

// A kept-alive TLS connection driven byte for byte.
class TlsClient {
 public:
  TlsClient(const std::string& address, int port, const std::filesystem::path& ca) : socket_(address, port) {
    SSL_CTX_load_verify_locations(ctx_.get(), ca.c_str(), nullptr);
    SSL_set_fd(ssl_.get(), socket_.Fd());
    timeval timeout{10, 0};
    ::setsockopt(socket_.Fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ready_ = socket_.Connected() && SSL_connect(ssl_.get()) == 1;
  }
  bool Ready() const { return ready_; }
  bool Send(const std::string& bytes) {
    return SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
  }
  // The status line of the next answer, its body read away by its length.
  std::string Answer() {
    std::string got;
    char c;
    while (got.find("\r\n\r\n") == std::string::npos && SSL_read(ssl_.get(), &c, 1) == 1) got += c;
    const std::size_t at = got.find("Content-Length: ");
    std::size_t left = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
    while (left > 0 && SSL_read(ssl_.get(), &c, 1) == 1) --left;
    return got.substr(0, got.find("\r\n"));
  }

 private:
  ClientSocket socket_;
  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx_{SSL_CTX_new(TLS_client_method()), SSL_CTX_free};
  std::unique_ptr<SSL, void (*)(SSL*)> ssl_{SSL_new(ctx_.get()), SSL_free};
  bool ready_ = false;
};

// Workers serve many connections one after another; what went wrong on one (a
// client that vanished mid-TLS) must not fail the next one's wait for its body,
// on a connection kept alive from before.
TEST_F(SlowClientTest, ABodyThatFollowsItsHeadLaterIsReadAfterOtherClientsVanished) {
  testing::WriteFile(data_.path() / "configs" / "default.json", "{}");
  const std::string body = "{\"u\":\"\"}";
  const std::string head = "POST /o HTTP/1.1\r\nHost: " + address_ +
                           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n";
  std::vector<std::unique_ptr<TlsClient>> kept;
  for (int i = 0; i < 8; ++i) {
    kept.push_back(std::make_unique<TlsClient>(address_, server_->HttpsPort(), certs_.ca));
    ASSERT_TRUE(kept.back()->Ready());
    ASSERT_TRUE(kept.back()->Send(head + body));
    ASSERT_EQ(kept.back()->Answer(), "HTTP/1.1 200 OK") << i;
  }
  for (int i = 0; i < 96; ++i) {
    ClientSocket socket(address_, server_->HttpsPort());
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(ctx.get()), SSL_free);
    SSL_set_fd(ssl.get(), socket.Fd());
    ASSERT_EQ(SSL_connect(ssl.get()), 1);
    ASSERT_EQ(SSL_write(ssl.get(), "GET /f/x HTTP/1.1\r\n", 19), 19);
    // Gone without a TLS goodbye, mid-head: the server's read of it fails.
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (std::size_t i = 0; i < kept.size(); ++i) {
    ASSERT_TRUE(kept[i]->Send(head));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(kept[i]->Send(body));
    EXPECT_EQ(kept[i]->Answer(), "HTTP/1.1 200 OK") << i;
  }
}

TEST_F(SlowClientTest, KeptAliveConnectionsServeRequestsBackToBack) {
  httplib::SSLClient client(address_, server_->HttpsPort());
  client.set_ca_cert_path(certs_.ca.c_str());
  client.enable_server_certificate_verification(true);
  client.set_keep_alive(true);
  for (int n = 0; n < 12; ++n) {
    const json event = WizardEvent({{"5", "OFR-" + std::to_string(n)}});
    auto res = client.Post("/zbd", {{"Authorization", SignatureFor(event)}}, EventEnvelope(event), "application/json");
    ASSERT_TRUE(res) << n;
    EXPECT_EQ(res->status, 200);
  }
  // After a pause shorter than the head timeout the same connection goes on.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  auto res = client.Post("/o", "{}", "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(server_->GetStore().Events().size(), 12u);
}

}  // namespace
}  // namespace ostrel
