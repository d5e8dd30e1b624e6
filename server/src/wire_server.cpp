#include "wire_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace ostrel {

namespace {

constexpr std::string_view kInterimContinue = "HTTP/1.1 100 Continue\r\n\r\n";

constexpr int kNextRequestGraceMs = 2;

bool PollFor(socket_t sock, short events, int timeoutMs) {
  pollfd p{sock, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, std::max(timeoutMs, 0));
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
  }
}

int MillisecondsUntil(SteadyClock::time_point deadline) {
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count());
}

std::string OpenSslError() {
  unsigned long code = ERR_get_error();
  if (code == 0) return "unknown TLS error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// One connection, over TLS or not, as httplib's request processing sees it. The
// head is already in the connection's pending bytes; the body must follow before
// the read deadline, so a client that trickles it holds a worker only that long.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(Connection& connection, int readTimeoutMs, int writeTimeoutMs)
      : connection_(connection), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

  // Called before each request on the connection: its first write may be the
  // interim response.
  void NewExchange(SteadyClock::time_point readDeadline) {
    atExchangeStart_ = true;
    readDeadline_ = readDeadline;
  }

  bool is_readable() const override {
    return connection_.HasPending() || (Tls() && SSL_pending(Tls()) > 0) || PollFor(Sock(), POLLIN, ReadWaitMs());
  }

  bool is_writable() const override { return PollFor(Sock(), POLLOUT, writeTimeoutMs_); }

  ssize_t read(char* ptr, size_t size) override {
    if (connection_.HasPending()) return connection_.TakePending(ptr, size);
    int chunk = static_cast<int>(std::min<size_t>(size, INT_MAX));
    if (!Tls()) {
      for (;;) {
        ssize_t n = ::recv(Sock(), ptr, static_cast<size_t>(chunk), 0);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && PollFor(Sock(), POLLIN, ReadWaitMs())) continue;
        return -1;
      }
    }
    for (;;) {
      ClearTlsErrors();
      int n = SSL_read(Tls(), ptr, chunk);
      if (n > 0) return n;
      int error = SSL_get_error(Tls(), n);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if (error == SSL_ERROR_WANT_READ && PollFor(Sock(), POLLIN, ReadWaitMs())) continue;
      if (error == SSL_ERROR_WANT_WRITE && PollFor(Sock(), POLLOUT, writeTimeoutMs_)) continue;
      return -1;
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    bool first = atExchangeStart_;
    atExchangeStart_ = false;
    if (first && std::string_view(ptr, size) == kInterimContinue) return static_cast<ssize_t>(size);
    int chunk = static_cast<int>(std::min<size_t>(size, INT_MAX));
    if (!Tls()) {
      for (;;) {
        ssize_t n = ::send(Sock(), ptr, static_cast<size_t>(chunk), MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && is_writable()) continue;
        return -1;
      }
    }
    for (;;) {
      ClearTlsErrors();
      int n = SSL_write(Tls(), ptr, chunk);
      if (n > 0) return n;
      int error = SSL_get_error(Tls(), n);
      if (error == SSL_ERROR_WANT_WRITE && is_writable()) continue;
      if (error == SSL_ERROR_WANT_READ && PollFor(Sock(), POLLIN, writeTimeoutMs_)) continue;
      return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(false, ip, port); }
  socket_t socket() const override { return Sock(); }

 private:
  socket_t Sock() const { return connection_.Socket(); }
  SSL* Tls() const { return connection_.Tls(); }
  int ReadWaitMs() const { return std::min(readTimeoutMs_, MillisecondsUntil(readDeadline_)); }

  void Address(bool remote, std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    int rc = remote ? getpeername(Sock(), reinterpret_cast<sockaddr*>(&addr), &length)
                    : getsockname(Sock(), reinterpret_cast<sockaddr*>(&addr), &length);
    if (rc != 0) return;
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
      inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
      port = ntohs(v4->sin_port);
    } else if (addr.ss_family == AF_INET6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
      inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
      port = ntohs(v6->sin6_port);
    }
    ip = text;
  }

  Connection& connection_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  SteadyClock::time_point readDeadline_;
  bool atExchangeStart_ = true;
};

// httplib's accept loop runs each task it is given at once, on its own thread:
// the task only hands the new socket to the hub. Stopping the loop stops the hub.
class HandOverQueue : public httplib::TaskQueue {
 public:
  explicit HandOverQueue(ConnectionHub& hub) : hub_(hub) {}
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override { hub_.Shutdown(); }

 private:
  ConnectionHub& hub_;
};

}  // namespace

std::shared_ptr<SSL_CTX> WireServer::MakeTlsContext(const std::filesystem::path& certChainFile,
                                                    const std::filesystem::path& keyFile) {
  std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!ctx) throw std::runtime_error("cannot create TLS context: " + OpenSslError());
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_AUTO_RETRY);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), certChainFile.c_str()) != 1) {
    throw std::runtime_error("cannot use certificate " + certChainFile.string() + ": " + OpenSslError());
  }
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("cannot use key " + keyFile.string() + ": " + OpenSslError());
  }
  if (SSL_CTX_check_private_key(ctx.get()) != 1) {
    throw std::runtime_error("key " + keyFile.string() + " does not belong to " + certChainFile.string());
  }
  return ctx;
}

WireServer::WireServer(std::shared_ptr<SSL_CTX> tls, Limits limits)
    : tls_(std::move(tls)),
      limits_(limits),
      hub_(std::make_unique<ConnectionHub>(limits.workers, [this](Connection& c) { return Serve(c); })) {
  // httplib's interface: it owns the queue it is given.
  new_task_queue = [this] { return new HandOverQueue(*hub_); };
}

WireServer::~WireServer() { hub_->Shutdown(); }

namespace {
thread_local bool noiseRequested = false;
thread_local bool closeRequested = false;
thread_local socket_t servedSocket = INVALID_SOCKET;

// Bytes that no TLS client can take for a record: an unknown content type.
constexpr std::string_view kNoise = "this is not a TLS record\r\n";

void SendNoise(socket_t sock) { ::send(sock, kNoise.data(), kNoise.size(), MSG_NOSIGNAL); }

// A connection that is not ready yet stays with the watcher while it only
// needs more bytes, and is closed once it failed.
bool KeepsWaiting(Connection::Progress progress) { return progress == Connection::Progress::NeedsBytes; }
}  // namespace

void WireServer::WidenBacklog() {
  if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, SOMAXCONN);
}

void WireServer::SendNoiseBeforeClosing() { noiseRequested = true; }

void WireServer::CloseAfterAnswer() { closeRequested = true; }

void WireServer::DropConnectionNow() {
  if (servedSocket != INVALID_SOCKET) ::shutdown(servedSocket, SHUT_RDWR);
}

bool WireServer::process_and_close_socket(socket_t sock) {
  const int flags = ::fcntl(sock, F_GETFL, 0);
  if (flags < 0 || ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) != 0) {
    ::close(sock);
    return false;
  }
  hub_->Admit(std::make_unique<Connection>(sock, SteadyClock::now() + limits_.headTimeout, keep_alive_max_count_));
  return true;
}

bool WireServer::Serve(Connection& connection) {
  if (const auto progress = connection.Handshake(tls_.get()); progress != Connection::Progress::Ready) {
    return KeepsWaiting(progress);
  }
  if (const auto progress = connection.GatherHead(limits_.maxHeadBytes); progress != Connection::Progress::Ready) {
    return KeepsWaiting(progress);
  }
  servedSocket = connection.Socket();
  const bool keep = ServeRequests(connection);
  servedSocket = INVALID_SOCKET;
  return keep;
}

// Serves every request whose head is in, then lets the connection wait for the
// next one.
bool WireServer::ServeRequests(Connection& connection) {
  ConnectionStream stream(connection, static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                          static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
  for (;;) {
    noiseRequested = false;
    closeRequested = false;
    stream.NewExchange(SteadyClock::now() + limits_.bodyTimeout);
    const bool closeAfter = connection.requestsLeft <= 1 || hub_->Stopping();
    bool closed = false;
    const bool ok = process_request(stream, closeAfter, closed,
                                    [&connection](httplib::Request& req) { req.ssl = connection.Tls(); });
    --connection.requestsLeft;
    connection.closeWithTlsShutdown = ok;
    if (noiseRequested) {
      SendNoise(connection.Socket());
      connection.closeWithTlsShutdown = false;  // no orderly TLS close after the noise
      return false;
    }
    if (closeRequested) connection.drainBeforeClose = true;
    if (!ok || closed || closeAfter || closeRequested) return false;
    connection.headDeadline = SteadyClock::now() + limits_.headTimeout;
    // A busy client sends its next request right after reading the answer; waiting
    // a moment for it here spares the hand-over to the watcher and back.
    if (!connection.HasBytes()) PollFor(connection.Socket(), POLLIN, kNextRequestGraceMs);
    if (const auto progress = connection.GatherHead(limits_.maxHeadBytes); progress != Connection::Progress::Ready) {
      return KeepsWaiting(progress);
    }
  }
}

}  // namespace ostrel
