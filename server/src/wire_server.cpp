#include "wire_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace ostrel {

namespace {

constexpr std::string_view kInterimContinue = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr int kHandshakeTimeoutSec = 10;
constexpr int kPollSliceMs = 50;

bool PollFor(socket_t sock, short events, int timeoutMs) {
  pollfd p{sock, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
  }
}

void SetTimeouts(socket_t sock, time_t readSec, time_t writeSec) {
  timeval read{readSec, 0};
  timeval write{writeSec, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &read, sizeof read);
  setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &write, sizeof write);
}

std::string OpenSslError() {
  unsigned long code = ERR_get_error();
  if (code == 0) return "unknown TLS error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// One connection, over TLS or not, as httplib's request processing sees it.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(socket_t sock, SSL* ssl, int readTimeoutMs, int writeTimeoutMs)
      : sock_(sock), ssl_(ssl), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

  // Called before each request on the connection: its first write may be the
  // interim response.
  void NewExchange() { atExchangeStart_ = true; }

  bool is_readable() const override {
    return (ssl_ && SSL_pending(ssl_) > 0) || PollFor(sock_, POLLIN, readTimeoutMs_);
  }

  bool is_writable() const override { return PollFor(sock_, POLLOUT, writeTimeoutMs_); }

  ssize_t read(char* ptr, size_t size) override {
    if (!is_readable()) return -1;
    int chunk = static_cast<int>(std::min<size_t>(size, INT_MAX));
    if (!ssl_) {
      for (;;) {
        ssize_t n = ::recv(sock_, ptr, static_cast<size_t>(chunk), 0);
        if (n < 0 && errno == EINTR) continue;
        return n;
      }
    }
    for (;;) {
      int n = SSL_read(ssl_, ptr, chunk);
      if (n > 0) return n;
      int error = SSL_get_error(ssl_, n);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if (error == SSL_ERROR_WANT_READ && PollFor(sock_, POLLIN, readTimeoutMs_)) continue;
      if (error == SSL_ERROR_WANT_WRITE && PollFor(sock_, POLLOUT, writeTimeoutMs_)) continue;
      return -1;
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    bool first = atExchangeStart_;
    atExchangeStart_ = false;
    if (first && std::string_view(ptr, size) == kInterimContinue) return static_cast<ssize_t>(size);
    if (!is_writable()) return -1;
    int chunk = static_cast<int>(std::min<size_t>(size, INT_MAX));
    if (!ssl_) {
      for (;;) {
        ssize_t n = ::send(sock_, ptr, static_cast<size_t>(chunk), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        return n;
      }
    }
    for (;;) {
      int n = SSL_write(ssl_, ptr, chunk);
      if (n > 0) return n;
      int error = SSL_get_error(ssl_, n);
      if (error == SSL_ERROR_WANT_WRITE && PollFor(sock_, POLLOUT, writeTimeoutMs_)) continue;
      if (error == SSL_ERROR_WANT_READ && PollFor(sock_, POLLIN, readTimeoutMs_)) continue;
      return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(false, ip, port); }
  socket_t socket() const override { return sock_; }

 private:
  void Address(bool remote, std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    int rc = remote ? getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &length)
                    : getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &length);
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

  socket_t sock_;
  SSL* ssl_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  bool atExchangeStart_ = true;
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

WireServer::WireServer(std::shared_ptr<SSL_CTX> tls) : tls_(std::move(tls)) {}

namespace {
thread_local bool noiseRequested = false;
thread_local socket_t servedSocket = INVALID_SOCKET;

// Bytes that no TLS client can take for a record: an unknown content type.
constexpr std::string_view kNoise = "this is not a TLS record\r\n";

void SendNoise(socket_t sock) { ::send(sock, kNoise.data(), kNoise.size(), MSG_NOSIGNAL); }
}  // namespace

void WireServer::SendNoiseBeforeClosing() { noiseRequested = true; }

void WireServer::DropConnectionNow() {
  if (servedSocket != INVALID_SOCKET) ::shutdown(servedSocket, SHUT_RDWR);
}

bool WireServer::WaitForRequest(socket_t sock, SSL* ssl) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
  // Sliced so that an idle connection does not hold up a stopping server.
  while (svr_sock_ != INVALID_SOCKET) {
    if ((ssl && SSL_pending(ssl) > 0) || PollFor(sock, POLLIN, kPollSliceMs)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return false;
}

bool WireServer::process_and_close_socket(socket_t sock) {
  noiseRequested = false;
  servedSocket = sock;
  SetTimeouts(sock, kHandshakeTimeoutSec, kHandshakeTimeoutSec);
  SSL* ssl = nullptr;
  bool ready = true;
  if (tls_) {
    ssl = SSL_new(tls_.get());
    ready = ssl && SSL_set_fd(ssl, sock) == 1 && SSL_accept(ssl) == 1;
  }
  bool ok = false;
  if (ready) {
    SetTimeouts(sock, read_timeout_sec_, write_timeout_sec_);
    ConnectionStream stream(sock, ssl, static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                            static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
    for (size_t left = keep_alive_max_count_; left > 0; --left) {
      if (!WaitForRequest(sock, ssl)) break;
      stream.NewExchange();
      bool closeAfter = left == 1 || svr_sock_ == INVALID_SOCKET;
      bool closed = false;
      ok = process_request(stream, closeAfter, closed, [ssl](httplib::Request& req) { req.ssl = ssl; });
      if (!ok || closed || closeAfter) break;
    }
  }
  servedSocket = INVALID_SOCKET;
  if (noiseRequested) {
    noiseRequested = false;
    SendNoise(sock);
    ok = false;  // no orderly TLS close after the noise
  }
  if (ssl) {
    if (ok) SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace ostrel
