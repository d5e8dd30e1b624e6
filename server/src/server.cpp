#include "server.h"

#include "control_token.h"
#include "wire_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

namespace ostrel {

namespace {

// The wizard sends one thread per analytics event and tests delay answers on
// purpose; a small pool would queue requests behind a delayed one. Connections
// waiting for a request take no worker.
constexpr std::size_t kWorkerThreads = 32;
constexpr std::size_t kKeepAliveRequests = 1000;

// Set while a request is handled, read by the logger that runs afterwards on the
// same worker thread.
thread_local std::string tlNote;
thread_local std::chrono::steady_clock::time_point tlStart;
// Set by DeclineRequest while a handler runs on this worker thread.
thread_local bool tlDeclined = false;

bool IsControlPath(const std::string& path) { return path.rfind("/_test/", 0) == 0; }

// httplib adds the socket's addresses to the header map; they never were on the wire.
bool IsPseudoHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

// Reads the body itself, at most maxBody bytes (decompressed, when it comes
// compressed), then hands the request on. Whatever is refused here stays unread,
// so the connection closes after the answer.
httplib::Server::HandlerWithContentReader WithBoundedBody(std::size_t maxBody, Handler next) {
  return [maxBody, next = std::move(next)](const httplib::Request& req, httplib::Response& res,
                                           const httplib::ContentReader& content) {
    auto refuse = [&res](int status, const std::string& message) {
      SendError(res, status, message);
      res.set_header("Connection", "close");
      WireServer::CloseAfterAnswer();
    };
    // httplib would gather the parts into other fields than the body.
    if (req.is_multipart_form_data()) return refuse(415, "multipart bodies are not accepted");
    if (req.has_header("Content-Length") && req.get_header_value<std::uint64_t>("Content-Length") > maxBody) {
      return refuse(413, "body larger than " + std::to_string(maxBody) + " bytes");
    }
    std::string body;
    bool tooLarge = false;
    const bool read = content([&](const char* data, std::size_t size) {
      tooLarge = body.size() + size > maxBody;
      if (!tooLarge) body.append(data, size);
      return !tooLarge;
    });
    if (tooLarge) return refuse(413, "body larger than " + std::to_string(maxBody) + " bytes");
    if (!read) return refuse(400, "body cannot be read");
    httplib::Request withBody = req;
    withBody.body = std::move(body);
    next(withBody, res);
  };
}

// For a real endpoint asked for on a listener that does not serve it: a client
// bug to see, so recorded, unlike a path nothing serves.
Handler WrongListener() {
  return [](const httplib::Request&, httplib::Response& res) { SendError(res, 404, "no such endpoint"); };
}

void WriteLogLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void DeclineRequest(httplib::Response& res) {
  tlDeclined = true;
  SendError(res, 404, "no such endpoint");
}

bool IsLoopbackAddress(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  return (ntohl(parsed.s_addr) >> 24) == 127;
}

OstrelServer::OstrelServer(ServerOptions options) : options_(std::move(options)) {
  std::filesystem::create_directories(options_.dataDir);
  store_ = Store::Open(options_.store, options_.dataDir);
}

OstrelServer::~OstrelServer() { Stop(); }

void OstrelServer::Start() {
  if (started_) throw std::logic_error("server already started");
  if (!IsLoopbackAddress(options_.address)) {
    throw std::runtime_error("refusing to listen on " + options_.address + ": only 127.0.0.0/8 is allowed");
  }
  // A TLS write to a client that has gone away raises SIGPIPE; the failed write is
  // reported to the request anyway.
  std::signal(SIGPIPE, SIG_IGN);
  auto https = std::make_unique<Listener>();
  https->name = "https";
  https->transport = Transport::Https;
  WireServer::Limits limits;
  limits.headTimeout = options_.headTimeout;
  limits.workers = kWorkerThreads;
  https->server = std::make_unique<WireServer>(WireServer::MakeTlsContext(options_.certFile, options_.keyFile), limits);
  listeners_.push_back(std::move(https));
  if (options_.httpPort) {
    auto http = std::make_unique<Listener>();
    http->name = "http";
    http->transport = Transport::Http;
    http->server = std::make_unique<WireServer>(nullptr, limits);
    listeners_.push_back(std::move(http));
  }
  for (auto& listener : listeners_) Configure(*listener);

  if (options_.signingKey) signer_ = ConfigSigner::FromPemFile(*options_.signingKey);
  services_ = MakeServices(ServiceContext{options_.dataDir, *store_, faults_, files_, options_.address, ports_,
                                          signer_.get(), signatureTampers_});
  for (auto& service : services_) service->Mount(*this);
  // Unknown paths can be faulted like any other, but only the log shows them: a
  // scanner must not fill the store.
  Handler notFound = [](const httplib::Request&, httplib::Response& res) { DeclineRequest(res); };
  Get(".*", notFound, Transport::Both);
  Post(".*", notFound, Transport::Both, kMaxEndpointBody);

  started_ = true;
  for (auto& listener : listeners_) {
    int wanted = listener->transport == Transport::Https ? options_.httpsPort : *options_.httpPort;
    int port = wanted;
    bool bound = wanted == 0 ? (port = listener->server->bind_to_any_port(options_.address)) > 0
                             : listener->server->bind_to_port(options_.address, wanted);
    if (!bound) {
      std::string reason = std::strerror(errno);
      Stop();
      throw std::runtime_error("cannot listen on " + options_.address + ":" + std::to_string(wanted) + " (" +
                               listener->name + "): " + reason);
    }
    listener->server->WidenBacklog();
    (listener->transport == Transport::Https ? httpsPort_ : httpPort_.emplace()) = port;
    (listener->transport == Transport::Https ? ports_.https : ports_.http) = port;
    httplib::Server* server = listener->server.get();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    listener->thread = std::thread([server, ended] {
      server->listen_after_bind();
      *ended = true;
    });
    // stop() is a no-op until the accept loop runs, so Stop() right after Start()
    // would otherwise leave the thread listening.
    while (!server->is_running() && !*ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (*ended) {
      Stop();
      throw std::runtime_error("listener on " + options_.address + ":" + std::to_string(port) + " ended at once");
    }
    if (options_.logRequests) {
      WriteLogLine("ostrel-server: listening on " + listener->name + "://" + options_.address + ":" +
                   std::to_string(port) + "\n");
    }
  }
}

void OstrelServer::Stop() {
  faults_.Interrupt();
  for (auto& listener : listeners_) {
    if (!listener->thread.joinable()) continue;
    listener->server->stop();
    listener->thread.join();
  }
}

void OstrelServer::Configure(Listener& listener) {
  httplib::Server& server = *listener.server;
  // Each route reads its body itself with a limit of its own, through httplib's
  // reader, which refuses anything above this one: it must not be the lower.
  server.set_payload_max_length(kMaxControlBody);
  // Headers and body go out in separate writes; with Nagle's algorithm the body
  // waits for the client's delayed ACK, about 40 ms per request.
  server.set_tcp_nodelay(true);
  // httplib closes a kept-alive connection after 5 requests; each new one costs a
  // TLS handshake, far more than an event. Idle ones still close after the head
  // timeout.
  server.set_keep_alive_max_count(kKeepAliveRequests);
  // httplib's default adds SO_REUSEPORT, which would let a second instance share the
  // address and port and take half of the requests. Only one listener per port.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    tlNote.clear();
    tlStart = std::chrono::steady_clock::now();
    // Routes that serve ranges judge Range and If-Range themselves (the file
    // host); httplib would otherwise cut every body to the range whatever the
    // status and validators. The request is the server's own, not a constant.
    const_cast<httplib::Request&>(req).ranges.clear();
    // Behind a reverse proxy every caller has the proxy's address, and a web page
    // can make a browser post anywhere: only the secret token opens the control
    // interface. Without it the answer is the one for a path nothing serves.
    if (IsControlPath(req.path) && !(options_.controlToken && CarriesControlToken(req, *options_.controlToken))) {
      DeclineRequest(res);
      if (req.method != "GET" && req.method != "HEAD") WireServer::CloseAfterAnswer();  // its body stays unread
      return httplib::Server::HandlerResponse::Handled;
    }
    // No route takes other methods, and httplib would read their bodies whole.
    if (req.method != "GET" && req.method != "HEAD" && req.method != "POST") {
      DeclineRequest(res);
      WireServer::CloseAfterAnswer();
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
    std::string what = "unknown error";
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    SendError(res, 500, what);
  });
  if (options_.logRequests) {
    const Listener* self = &listener;
    server.set_logger(
        [this, self](const httplib::Request& req, const httplib::Response& res) { Log(*self, req, res); });
  }
}

void OstrelServer::Get(const std::string& pattern, Handler handler, Transport transport) {
  for (auto& listener : listeners_) {
    const Listener* self = listener.get();
    Handler serve = Includes(transport, listener->transport) ? handler : WrongListener();
    listener->server->Get(pattern, [this, self, serve](const httplib::Request& req, httplib::Response& res) {
      ServePublic(*self, serve, req, res);
    });
  }
}

void OstrelServer::Post(const std::string& pattern, Handler handler, Transport transport, std::size_t maxBody) {
  for (auto& listener : listeners_) {
    const Listener* self = listener.get();
    Handler serve = Includes(transport, listener->transport) ? handler : WrongListener();
    listener->server->Post(
        pattern, WithBoundedBody(maxBody, [this, self, serve](const httplib::Request& req, httplib::Response& res) {
          ServePublic(*self, serve, req, res);
        }));
  }
}

void OstrelServer::ControlGet(const std::string& pattern, Handler handler) {
  if (!options_.controlToken) return;
  for (auto& listener : listeners_) listener->server->Get(pattern, handler);
}

void OstrelServer::ControlPost(const std::string& pattern, Handler handler) {
  if (!options_.controlToken) return;
  for (auto& listener : listeners_) listener->server->Post(pattern, WithBoundedBody(kMaxControlBody, handler));
}

void OstrelServer::ServePublic(const Listener& listener, const Handler& handler, const httplib::Request& req,
                               httplib::Response& res) {
  RequestRecord record;
  record.receivedAt = Store::NowUtc();

  bool answered = false;
  if (auto step = faults_.Take(req.path)) {
    if (!faults_.Sleep(step->delayMs)) {
      SendError(res, 503, "server stopping");
      answered = true;
      tlNote = "stopping";
    } else if (step->drop) {
      WireServer::DropConnectionNow();
      answered = true;
      tlNote = "dropped";
    } else if (step->ReplacesAnswer()) {
      res.status = step->status.value_or(200);
      res.set_content(step->body.value_or(std::string()), step->contentType.c_str());
      answered = true;
      tlNote = "fault";
    } else {
      tlNote = "delayed " + std::to_string(step->delayMs) + "ms";
    }
  }
  tlDeclined = false;
  if (!answered) {
    try {
      handler(req, res);
    } catch (const std::exception& e) {
      SendError(res, 500, e.what());
    }
  }

  if (tlDeclined) return;
  record.listener = listener.name;
  record.method = req.method;
  record.path = req.path;
  for (const auto& [name, value] : req.headers) {
    if (!IsPseudoHeader(name)) record.headers.push_back({name, value});
  }
  record.body = req.body;
  record.status = res.status;
  try {
    store_->RecordRequest(record);
  } catch (const std::exception& e) {
    WriteLogLine(std::string("ostrel-server: request not recorded: ") + e.what() + "\n");
  }
}

void OstrelServer::Log(const Listener& listener, const httplib::Request& req, const httplib::Response& res) const {
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tlStart).count();
  const std::string& target = req.target.empty() ? req.path : req.target;
  std::string line = Store::NowUtc() + " " + listener.name + " " + options_.address + " " + req.remote_addr + " " +
                     req.method + " " + target + " " + std::to_string(res.status) + " " +
                     std::to_string(res.body.size()) + "B " + std::to_string(elapsed) + "ms";
  if (!tlNote.empty()) line += " [" + tlNote + "]";
  // The reason for a refusal is what a person reading the log needs first.
  if (res.status >= 400 && tlNote.empty()) line += " " + res.body.substr(0, 200);
  WriteLogLine(line + "\n");
}

}  // namespace ostrel
