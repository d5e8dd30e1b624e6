#include "server.h"

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
// purpose; a small pool would queue requests behind a delayed one.
constexpr std::size_t kWorkerThreads = 32;
constexpr std::size_t kMaxBody = 16 * 1024 * 1024;

// Set while a request is handled, read by the logger that runs afterwards on the
// same worker thread.
thread_local std::string tlNote;
thread_local std::chrono::steady_clock::time_point tlStart;

bool IsControlPath(const std::string& path) { return path.rfind("/_test/", 0) == 0; }

// httplib adds the socket's addresses to the header map; they never were on the wire.
bool IsPseudoHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

void WriteLogLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  return (ntohl(parsed.s_addr) >> 24) == 127;
}

OstrelServer::OstrelServer(ServerOptions options) : options_(std::move(options)) {
  std::filesystem::create_directories(options_.dataDir);
  store_ = std::make_unique<Store>(Store::FileIn(options_.dataDir));
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
  https->server = std::make_unique<WireServer>(WireServer::MakeTlsContext(options_.certFile, options_.keyFile));
  listeners_.push_back(std::move(https));
  if (options_.httpPort) {
    auto http = std::make_unique<Listener>();
    http->name = "http";
    http->transport = Transport::Http;
    http->server = std::make_unique<WireServer>();
    listeners_.push_back(std::move(http));
  }
  for (auto& listener : listeners_) Configure(*listener);

  services_ = MakeServices(ServiceContext{options_.dataDir, *store_, faults_, files_, options_.address, ports_});
  for (auto& service : services_) service->Mount(*this);
  // Unknown paths still count as requests (a wrong path is a client bug to see) and
  // can be faulted like any other.
  Handler notFound = [](const httplib::Request&, httplib::Response& res) {
    SendError(res, 404, "no such endpoint");
  };
  Get(".*", notFound, Transport::Both);
  Post(".*", notFound, Transport::Both);

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
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  server.set_payload_max_length(kMaxBody);
  // Headers and body go out in separate writes; with Nagle's algorithm the body
  // waits for the client's delayed ACK, about 40 ms per request.
  server.set_tcp_nodelay(true);
  // httplib's default adds SO_REUSEPORT, which would let a second instance share the
  // address and port and take half of the requests. Only one listener per port.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    tlNote.clear();
    tlStart = std::chrono::steady_clock::now();
    // Listeners are bound to loopback only; this keeps the control endpoints closed
    // even if that ever changes.
    if (IsControlPath(req.path) && !IsLoopbackAddress(req.remote_addr)) {
      SendError(res, 403, "control endpoints answer loopback callers only");
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
    server.set_logger([this, self](const httplib::Request& req, const httplib::Response& res) { Log(*self, req, res); });
  }
}

void OstrelServer::Get(const std::string& pattern, Handler handler, Transport transport) {
  for (auto& listener : listeners_) {
    if (!Includes(transport, listener->transport)) continue;
    const Listener* self = listener.get();
    listener->server->Get(pattern, [this, self, handler](const httplib::Request& req, httplib::Response& res) {
      ServePublic(*self, handler, req, res);
    });
  }
}

void OstrelServer::Post(const std::string& pattern, Handler handler, Transport transport) {
  for (auto& listener : listeners_) {
    if (!Includes(transport, listener->transport)) continue;
    const Listener* self = listener.get();
    listener->server->Post(pattern, [this, self, handler](const httplib::Request& req, httplib::Response& res) {
      ServePublic(*self, handler, req, res);
    });
  }
}

void OstrelServer::ControlGet(const std::string& pattern, Handler handler) {
  for (auto& listener : listeners_) listener->server->Get(pattern, handler);
}

void OstrelServer::ControlPost(const std::string& pattern, Handler handler) {
  for (auto& listener : listeners_) listener->server->Post(pattern, handler);
}

void OstrelServer::ServePublic(const Listener& listener, const Handler& handler, const httplib::Request& req,
                               httplib::Response& res) {
  if (IsControlPath(req.path)) {  // an unknown control path reached the catch-all
    SendError(res, 404, "no such control endpoint");
    return;
  }
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
  if (!answered) {
    try {
      handler(req, res);
    } catch (const std::exception& e) {
      SendError(res, 500, e.what());
    }
  }

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
