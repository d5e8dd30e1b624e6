#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <httplib.h>

namespace ostrel {

class ConfigSigner;
class FaultBook;
class SignatureTamperBook;
class FileBook;
class Store;

// Which listeners a route is served on. The wizard's JSON endpoints are HTTPS only;
// the file host also answers plain HTTP.
enum class Transport : unsigned { Https = 1, Http = 2, Both = 3 };

inline bool Includes(Transport set, Transport one) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(one)) != 0;
}

using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

// The most a route reads of a request body; a larger one is refused (413) before it
// fills memory. The wizard's configuration requests and events fit many times
// over; tests upload installers and archives through the control interface.
inline constexpr std::size_t kMaxEndpointBody = 64 * 1024;
inline constexpr std::size_t kMaxControlBody = 16 * 1024 * 1024;

// The ports the listeners were bound to (0: no such listener). Filled by Start()
// before the first request can arrive.
struct ListenerPorts {
  std::atomic<int> https{0};
  std::atomic<int> http{0};
};

// What every service may use. Owned by the server, outlives the services.
struct ServiceContext {
  std::filesystem::path dataDir;
  Store& store;
  FaultBook& faults;
  FileBook& files;
  std::string address;  // the loopback address the listeners are bound to
  const ListenerPorts& ports;
  const ConfigSigner* signer;  // null: configuration answers go unsigned
  SignatureTamperBook& signatureTampers;
};

// Route registration as the server offers it to services.
class Routes {
 public:
  virtual ~Routes() = default;

  // Public endpoints, the ones the wizard talks to: every request is recorded (unless
  // the handler declines it), logged and subject to the fault plan of its path. Patterns are httplib's (std::regex,
  // whole path).
  virtual void Get(const std::string& pattern, Handler handler, Transport transport = Transport::Https) = 0;
  virtual void Post(const std::string& pattern, Handler handler, Transport transport = Transport::Https,
                    std::size_t maxBody = kMaxEndpointBody) = 0;

  // Control endpoints under /_test/: mounted only when the server has a control
  // token, answered only to requests that carry it, never recorded or faulted,
  // served on every listener.
  virtual void ControlGet(const std::string& pattern, Handler handler) = 0;
  virtual void ControlPost(const std::string& pattern, Handler handler) = 0;
};

// A group of endpoints. A new host role is a new Service in a file of its own plus
// one line in MakeServices (services.cpp).
class Service {
 public:
  virtual ~Service() = default;
  virtual void Mount(Routes& routes) = 0;
};

std::vector<std::unique_ptr<Service>> MakeServices(const ServiceContext& context);

// Helpers shared by services.
void SendJson(httplib::Response& res, int status, const std::string& body);
void SendError(httplib::Response& res, int status, const std::string& message);
// Answers 404 as for a path that no service serves. Only requests to real
// endpoints are recorded; a declined one is only logged.
void DeclineRequest(httplib::Response& res);

}  // namespace ostrel
