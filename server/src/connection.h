#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include <openssl/ssl.h>

namespace ostrel {

using SteadyClock = std::chrono::steady_clock;

// OpenSSL keeps one error queue per thread, and SSL_get_error reads it: an error
// a connection left on a worker would turn the next connection's harmless "wait
// for more bytes" into a failure. Called before every TLS call.
void ClearTlsErrors();

// One client connection of a listener: owns its socket and TLS state and closes
// them when it goes. Bytes already received but not yet handed to httplib wait in
// pending, so a request head can be gathered without holding a worker thread.
class Connection {
 public:
  // sock: accepted, and set non-blocking by the caller.
  Connection(int sock, SteadyClock::time_point headDeadline, std::size_t requestsLeft);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  enum class Progress { Ready, NeedsBytes, Failed };

  // One non-blocking step of the TLS handshake (Ready at once without TLS).
  Progress Handshake(SSL_CTX* tls);
  // Reads what has arrived, without waiting, until pending holds a whole request
  // head: Ready then; NeedsBytes while it is incomplete; Failed when the client
  // closed, the read failed, or the head grew past maxHeadBytes.
  Progress GatherHead(std::size_t maxHeadBytes);

  // Hands out pending bytes first; -1 (EAGAIN) when there are none.
  std::ptrdiff_t TakePending(char* out, std::size_t size);
  bool HasPending() const { return pendingAt_ < pending_.size(); }
  // Pending bytes, or bytes TLS or the socket hold already.
  bool HasBytes() const;

  int Socket() const { return sock_; }
  SSL* Tls() const { return ssl_.get(); }

  // The next request head must be complete by then, or the connection is closed.
  SteadyClock::time_point headDeadline;
  std::size_t requestsLeft;
  bool closeWithTlsShutdown = false;  // the last exchange ended well: say goodbye
  bool drainBeforeClose = false;      // a body was left unread: read it away first

 private:
  // Receives what is there without waiting: bytes, 0 at the end, -1 when nothing
  // (yet), -2 on failure.
  std::ptrdiff_t ReceiveNow(char* out, std::size_t size);
  bool PendingHoldsAHead() const;
  // Reads away what the client still sends, briefly, before the socket closes.
  void Drain();

  int sock_;
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl_{nullptr, SSL_free};
  bool tlsReady_ = false;
  std::string pending_;
  std::size_t pendingAt_ = 0;
};

}  // namespace ostrel
