#pragma once

#include <filesystem>
#include <memory>

#include <openssl/ssl.h>

#include <httplib.h>

namespace ostrel {

// httplib's server with the connection handling done here, for one reason: the wizard
// sends "Expect: 100-continue" together with the whole body, and Wine's WinHTTP
// fails such a request (ERROR_WINHTTP_INVALID_SERVER_RESPONSE) when the server
// answers with the interim "100 Continue" that httplib always writes. Leaving it out
// is allowed once the body is on its way, and every client copes: the wizard and
// httplib send the body at once, curl sends it after a short wait.
//
// With a TLS context the connection is HTTPS, without one plain HTTP.
class WireServer : public httplib::Server {
 public:
  // Throws std::runtime_error when the certificate or key cannot be used.
  static std::shared_ptr<SSL_CTX> MakeTlsContext(const std::filesystem::path& certChainFile,
                                                 const std::filesystem::path& keyFile);

  explicit WireServer(std::shared_ptr<SSL_CTX> tls = nullptr);

  // For a handler or content provider: once this exchange is over, bytes that are
  // not a TLS record go out on the bare socket before it closes, so an HTTPS
  // client fails its next read (over plain HTTP they are just more bytes).
  // Handlers run on their connection's thread, so the request stays with it.
  static void SendNoiseBeforeClosing();
  // For a handler: the connection it serves is shut down at once, so whatever the
  // handler answers never reaches the client, which sees the connection close
  // with no answer at all.
  static void DropConnectionNow();

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool WaitForRequest(socket_t sock, SSL* ssl) const;

  std::shared_ptr<SSL_CTX> tls_;
};

}  // namespace ostrel
