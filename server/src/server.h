#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config_signing.h"
#include "faults.h"
#include "file_book.h"
#include "service.h"
#include "store.h"
#include "wire_server.h"

namespace ostrel {

struct ServerOptions {
  std::string address;             // loopback IPv4 address, checked again by Start()
  int httpsPort = 443;             // 0: any free port (tests)
  std::optional<int> httpPort;     // plain HTTP as well, for the file host
  std::filesystem::path certFile;  // PEM certificate (chain) and key
  std::filesystem::path keyFile;
  std::filesystem::path dataDir;
  // A libpq connection string: requests and events go to that PostgreSQL database
  // (shared with other servers) instead of DATA/ostrel.db.
  std::optional<std::string> store;
  bool logRequests = true;  // one line per request on stderr
  // A connection that has not sent a whole request head this long after it was
  // accepted, or after its last answer, is closed.
  std::chrono::milliseconds headTimeout{5000};
  // The /_test/ control interface is mounted only with a token, and then every
  // control request must carry it; without one those paths do not exist.
  std::optional<std::string> controlToken;
  // Configuration answers are signed with this P-256 private key (PEM).
  std::optional<std::filesystem::path> signingKey;
};

// True for dotted-quad IPv4 addresses in 127.0.0.0/8 and nothing else.
bool IsLoopbackAddress(const std::string& address);

// One instance of the reference server: an HTTPS listener, optionally a plain HTTP
// listener, the services mounted on them, and the data they share.
class OstrelServer : private Routes {
 public:
  explicit OstrelServer(ServerOptions options);
  ~OstrelServer() override;
  OstrelServer(const OstrelServer&) = delete;
  OstrelServer& operator=(const OstrelServer&) = delete;

  // Binds every listener and starts serving on background threads. Throws
  // std::runtime_error (nothing left listening) when an address, certificate or port
  // cannot be used.
  void Start();
  // Stops accepting, lets requests in progress finish, joins the threads. Idempotent.
  void Stop();

  int HttpsPort() const { return httpsPort_; }
  std::optional<int> HttpPort() const { return httpPort_; }
  Store& GetStore() { return *store_; }
  FaultBook& Faults() { return faults_; }

 private:
  struct Listener {
    std::string name;  // "https" or "http"
    Transport transport;
    std::unique_ptr<WireServer> server;
    std::thread thread;
  };

  void Get(const std::string& pattern, Handler handler, Transport transport) override;
  void Post(const std::string& pattern, Handler handler, Transport transport, std::size_t maxBody) override;
  void ControlGet(const std::string& pattern, Handler handler) override;
  void ControlPost(const std::string& pattern, Handler handler) override;

  void Configure(Listener& listener);
  void ServePublic(const Listener& listener, const Handler& handler, const httplib::Request& req,
                   httplib::Response& res);
  void Log(const Listener& listener, const httplib::Request& req, const httplib::Response& res) const;

  ServerOptions options_;
  std::unique_ptr<Store> store_;
  FaultBook faults_;
  FileBook files_;
  std::shared_ptr<const ConfigSigner> signer_;
  SignatureTamperBook signatureTampers_;
  ListenerPorts ports_;
  std::vector<std::unique_ptr<Service>> services_;
  std::vector<std::unique_ptr<Listener>> listeners_;
  int httpsPort_ = 0;
  std::optional<int> httpPort_;
  bool started_ = false;
};

}  // namespace ostrel
