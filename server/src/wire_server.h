#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>

#include <openssl/ssl.h>

#include <httplib.h>

#include "connection.h"
#include "connection_hub.h"

namespace ostrel {

// httplib's server with the connection handling done here, for two reasons. The
// wizard sends "Expect: 100-continue" together with the whole body, and Wine's
// WinHTTP fails such a request (ERROR_WINHTTP_INVALID_SERVER_RESPONSE) when the
// server answers with the interim "100 Continue" that httplib always writes.
// Leaving it out is allowed once the body is on its way, and every client copes:
// the wizard and httplib send the body at once, curl sends it after a short wait.
// And httplib gives each connection a thread for as long as it is open, so a few
// idle clients would stop everyone else; here a connection takes a thread only
// while it has a whole request head to serve.
//
// With a TLS context the connection is HTTPS, without one plain HTTP.
class WireServer : public httplib::Server {
 public:
  struct Limits {
    // A connection must deliver a whole request head this long after it was
    // accepted or answered its last request; then it is closed.
    std::chrono::milliseconds headTimeout{5000};
    std::size_t maxHeadBytes = 64 * 1024;
    // Once the head is in, the body must follow within this.
    std::chrono::milliseconds bodyTimeout{30000};
    // Threads that serve requests; waiting connections take none.
    std::size_t workers = 32;
  };

  // Throws std::runtime_error when the certificate or key cannot be used.
  static std::shared_ptr<SSL_CTX> MakeTlsContext(const std::filesystem::path& certChainFile,
                                                 const std::filesystem::path& keyFile);

  // Without a TLS context the connections are plain HTTP.
  WireServer(std::shared_ptr<SSL_CTX> tls, Limits limits);
  ~WireServer() override;

  // httplib listens with a backlog of 5: a burst of new connections would wait for
  // the clients' SYN retries, a second or more. Call once bound.
  void WidenBacklog();

  // For a handler or content provider: once this exchange is over, bytes that are
  // not a TLS record go out on the bare socket before it closes, so an HTTPS
  // client fails its next read (over plain HTTP they are just more bytes).
  // Handlers run on their connection's thread, so the request stays with it.
  static void SendNoiseBeforeClosing();
  // For a handler: the connection it serves is shut down at once, so whatever the
  // handler answers never reaches the client, which sees the connection close
  // with no answer at all.
  static void DropConnectionNow();
  // For a handler that leaves (part of) a request body unread: the connection
  // closes after the answer instead of reading the rest as the next request.
  static void CloseAfterAnswer();

 private:
  // httplib's accept loop hands each new socket here, on its own thread; it only
  // joins the hub, which serves it once bytes arrive.
  bool process_and_close_socket(socket_t sock) override;
  // One turn of a connection on a worker; true when it waits for more bytes.
  bool Serve(Connection& connection);
  bool ServeRequests(Connection& connection);

  std::shared_ptr<SSL_CTX> tls_;
  Limits limits_;
  std::unique_ptr<ConnectionHub> hub_;
};

}  // namespace ostrel
