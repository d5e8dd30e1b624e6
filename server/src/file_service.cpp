#include "file_service.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "body_json.h"
#include "byte_ranges.h"
#include "faults.h"
#include "wire_server.h"

namespace ostrel {

namespace {

using nlohmann::json;

constexpr std::string_view kFolderPrefix = "/f/";

std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// True when path lies below base, component by component; both canonical.
bool LiesWithin(const std::filesystem::path& path, const std::filesystem::path& base) {
  auto [baseEnd, pathAt] = std::mismatch(base.begin(), base.end(), path.begin(), path.end());
  return baseEnd == base.end() && pathAt != path.end();
}

int HopOf(const httplib::Request& req) {
  const std::string text = req.get_param_value("hop");
  int hop = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), hop);
  if (error != std::errc() || end != text.data() + text.size() || hop < 0) return 0;
  return hop;
}

std::string Authority(const std::string& scheme, const RequestOrigin& origin) {
  const int port = scheme == "https" ? origin.httpsPort : origin.httpPort;
  const int standard = scheme == "https" ? 443 : 80;
  std::string authority = scheme;
  authority.append("://").append(origin.address);
  if (port != 0 && port != standard) authority.append(":").append(std::to_string(port));
  return authority;
}

std::string SchemeFor(RedirectScheme scheme, bool secure) {
  switch (scheme) {
    case RedirectScheme::Http:
      return "http";
    case RedirectScheme::Https:
      return "https";
    case RedirectScheme::Alternate:
      return secure ? "http" : "https";
    case RedirectScheme::Same:
      break;
  }
  return secure ? "https" : "http";
}

// What one response still has to send; shared by the provider calls of that response.
struct Delivery {
  Delivery(FileContent::Cursor start, const FileBehaviour& behaviour, FaultBook& faults)
      : cursor(std::move(start)),
        chunkBytes(behaviour.chunkBytes),
        delayMs(behaviour.chunkDelayMs),
        faults(faults),
        buffer(behaviour.chunkBytes),
        noiseOnCut(behaviour.cutWithNoise) {}

  // Writes the next piece, at most max bytes; false when the connection is to drop
  // (cut off, client gone, server stopping).
  bool WriteNext(httplib::DataSink& sink, std::uint64_t max) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>({chunkBytes, max, limit - sent}));
    if (want == 0) return Cut();
    const std::size_t got = cursor.Next(buffer.data(), want);
    if (got == 0 || !sink.write(buffer.data(), got)) return false;
    sent += got;
    if (counter) *counter += got;
    return faults.Sleep(delayMs);
  }

  // For framings without a length. A chunked body ends with its last chunk; a
  // close-delimited one by dropping the connection (httplib would keep it open),
  // which is also how a cut ends either.
  bool WriteOrFinish(httplib::DataSink& sink, bool endByClosing) {
    if (sent < limit) return WriteNext(sink, std::numeric_limits<std::uint64_t>::max());
    if (limit < total) return Cut();
    if (endByClosing) return false;
    sink.done();
    return true;
  }

  // Ends the body early: false drops the connection, after noise when asked.
  bool Cut() const {
    if (noiseOnCut) WireServer::SendNoiseBeforeClosing();
    return false;
  }

  FileContent::Cursor cursor;
  std::size_t chunkBytes;
  int delayMs;
  FaultBook& faults;
  std::shared_ptr<std::atomic<std::uint64_t>> counter;  // the path's tally, or null
  std::vector<char> buffer;
  bool noiseOnCut;
  std::uint64_t total = 0;  // size of the content
  std::uint64_t limit = 0;  // bytes that will go out before the body ends or drops
  std::uint64_t sent = 0;
};

std::optional<std::string> HeaderOf(const httplib::Request& req, const char* name) {
  if (!req.has_header(name)) return std::nullopt;
  return req.get_header_value(name);
}

// The validators this answer carries: the content's own unless the behaviour
// names others ("" for none).
Validators ValidatorsFor(const FileBehaviour& behaviour, const FileContent& content) {
  Validators validators;
  validators.etag = behaviour.etag.value_or(content.EntityTag());
  validators.lastModified = behaviour.lastModified.value_or(HttpDate(content.ModifiedAt()));
  if (validators.etag->empty()) validators.etag.reset();
  if (validators.lastModified->empty()) validators.lastModified.reset();
  return validators;
}

// Ranges apply to a plain successful GET of the content; redirects, failures
// and set statuses are answered as they are.
RangePlan PlanFor(const httplib::Request& req, const FileBehaviour& behaviour, const FileContent& content,
                  const Validators& validators) {
  const bool rangeable = behaviour.ranges && behaviour.status == 200 && req.method == "GET";
  if (!rangeable) return RangePlan{behaviour.status, 0, content.Size(), {}};
  return PlanRange(content.Size(), HeaderOf(req, "Range"), HeaderOf(req, "If-Range"), validators);
}

void SendContent(const httplib::Request& req, httplib::Response& res, const FileBehaviour& behaviour,
                 std::shared_ptr<const FileContent> content, const FileAnswer* answer, FaultBook& faults) {
  const bool cut = answer && answer->cut;
  const Validators validators = ValidatorsFor(behaviour, *content);
  const RangePlan plan = PlanFor(req, behaviour, *content, validators);
  res.status = plan.status;
  res.set_header("Date", HttpDate(static_cast<std::int64_t>(std::time(nullptr))));
  // Only a successful answer carries the content itself, and so its validators.
  if (behaviour.status == 200) {
    if (validators.etag) res.set_header("ETag", *validators.etag);
    if (validators.lastModified) res.set_header("Last-Modified", *validators.lastModified);
    if (behaviour.ranges) res.set_header("Accept-Ranges", "bytes");
  }
  if (!plan.contentRange.empty()) res.set_header("Content-Range", plan.contentRange);
  if (plan.status == 416) {
    res.set_content("", "text/plain");
    return;
  }

  auto delivery = std::make_shared<Delivery>(FileContent::Cursor(content, plan.first), behaviour, faults);
  delivery->total = plan.length;
  if (answer) delivery->counter = answer->bodyBytesSent;
  delivery->limit = cut ? std::min(delivery->total, *behaviour.cutAfter) : delivery->total;
  const std::string& type = behaviour.contentType;

  switch (behaviour.framing) {
    case Framing::Length: {
      // A set length stands for the whole content; a range announces its own.
      const std::uint64_t announced =
          plan.status == 206 ? plan.length : behaviour.contentLength.value_or(delivery->total);
      if (announced == 0) {
        res.set_content("", type);  // httplib writes Content-Length: 0
        return;
      }
      res.set_content_provider(static_cast<std::size_t>(announced), type,
                               [delivery](std::size_t, std::size_t length, httplib::DataSink& sink) {
                                 return delivery->WriteNext(sink, length);
                               });
      return;
    }
    case Framing::Chunked:
      res.set_chunked_content_provider(
          type, [delivery](std::size_t, httplib::DataSink& sink) { return delivery->WriteOrFinish(sink, false); });
      return;
    case Framing::Close:
      res.set_content_provider(
          type, [delivery](std::size_t, httplib::DataSink& sink) { return delivery->WriteOrFinish(sink, true); });
      return;
  }
}

}  // namespace

std::string HopLocation(const RedirectChain& chain, const std::string& path, int nextHop, const RequestOrigin& origin) {
  if (nextHop >= chain.hops && chain.to) return *chain.to;
  const std::string query = "?hop=" + std::to_string(nextHop);
  if (chain.relative) return path.substr(path.rfind('/') + 1) + query;
  return Authority(SchemeFor(chain.scheme, origin.secure), origin) + path + query;
}

std::optional<std::filesystem::path> FolderFileFor(const std::filesystem::path& filesDir, const std::string& path) {
  if (path.rfind(kFolderPrefix, 0) != 0) return std::nullopt;
  const std::string rest = path.substr(kFolderPrefix.size());
  if (rest.empty() || rest.find('\0') != std::string::npos || rest.find('\\') != std::string::npos) {
    return std::nullopt;
  }
  std::filesystem::path relative(rest);
  // An absolute rest would replace the folder when joined.
  if (relative.has_root_path()) return std::nullopt;
  for (const auto& part : relative) {
    if (part == ".." || part == "." || part.empty()) return std::nullopt;
  }
  // Symbolic links inside the folder may point anywhere: only where the path
  // really leads counts.
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::canonical(filesDir, error);
  if (error) return std::nullopt;
  const std::filesystem::path file = std::filesystem::canonical(folder / relative, error);
  if (error || !LiesWithin(file, folder) || !std::filesystem::is_regular_file(file, error)) return std::nullopt;
  return file;
}

FileService::FileService(const ServiceContext& context)
    : filesDir_(context.dataDir / "files"),
      address_(context.address),
      ports_(context.ports),
      files_(context.files),
      faults_(context.faults) {}

void FileService::Mount(Routes& routes) {
  // Control routes first: the catch-all GET below would take /_test/files too.
  routes.ControlPost("/_test/files", [this](const httplib::Request& req, httplib::Response& res) {
    try {
      const std::string path = files_.Set(ParseBodyJson(req.body).value);
      SendJson(res, 200, Dump(json{{"path", path}}));
    } catch (const std::exception& e) {
      SendError(res, 400, e.what());
    }
  });
  routes.ControlGet("/_test/files",
                    [this](const httplib::Request& req, httplib::Response& res) { Describe(req, res); });
  routes.Get(
      ".*", [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); }, Transport::Both);
  // A POST meets a behaviour set for its path, so clients that post (the JSON
  // client) can be given cut and broken answers too. The JSON endpoints come
  // before this route and keep their paths.
  routes.Post(
      ".*", [this](const httplib::Request& req, httplib::Response& res) { ServePost(req, res); }, Transport::Both);
}

void FileService::ServePost(const httplib::Request& req, httplib::Response& res) {
  // A POST to a path without a behaviour reached no endpoint: answered 404
  // and not recorded, like any other path nothing serves.
  if (!files_.Find(req.path)) {
    DeclineRequest(res);
    return;
  }
  Serve(req, res);
}

RequestOrigin FileService::OriginOf(const httplib::Request& req) const {
  RequestOrigin origin;
  origin.secure = req.ssl != nullptr;
  origin.address = address_;
  origin.httpsPort = ports_.https;
  origin.httpPort = ports_.http;
  return origin;
}

std::shared_ptr<const FileContent> FileService::ContentFor(const std::string& path,
                                                           const FileBehaviour* behaviour) const {
  if (behaviour && behaviour->content) return behaviour->content;
  if (auto file = FolderFileFor(filesDir_, path)) return FileContent::FromFile(*file);
  return nullptr;
}

void FileService::Serve(const httplib::Request& req, httplib::Response& res) {
  const std::optional<FileAnswer> answer = files_.Take(req.path);
  if (!answer) {
    auto content = ContentFor(req.path, nullptr);
    if (!content) {
      // Outside /f/ only paths a test gave a behaviour belong to the file host.
      if (req.path.rfind(kFolderPrefix, 0) == 0) {
        SendError(res, 404, "no such file");
      } else {
        DeclineRequest(res);
      }
      return;
    }
    SendContent(req, res, FileBehaviour{}, content, nullptr, faults_);
    return;
  }

  const FileBehaviour& behaviour = answer->behaviour;
  if (answer->fail) {
    res.status = behaviour.failStatus;
    res.set_content("", "text/plain");
    return;
  }
  if (behaviour.redirect) {
    const int hop = HopOf(req);
    if (hop < behaviour.redirect->hops) {
      res.status = behaviour.redirect->status;
      res.set_header("Location", HopLocation(*behaviour.redirect, req.path, hop + 1, OriginOf(req)));
      res.set_content("", "text/plain");
      return;
    }
  }

  if (behaviour.location) res.set_header("Location", *behaviour.location);
  auto content = ContentFor(req.path, &behaviour);
  SendContent(req, res, behaviour, content ? content : FileContent::FromBytes(""), &*answer, faults_);
}

void FileService::Describe(const httplib::Request& req, httplib::Response& res) {
  if (!req.has_param("path")) {
    SendJson(res, 200, Dump(files_.Describe()));
    return;
  }
  const std::string path = req.get_param_value("path");
  const std::optional<FileBehaviour> behaviour = files_.Find(path);
  auto content = ContentFor(path, behaviour ? &*behaviour : nullptr);
  if (!content) {
    SendError(res, 404, behaviour ? "the path serves no content" : "no such file");
    return;
  }
  SendJson(res, 200, Dump(json{{"path", path}, {"size", content->Size()}, {"sha256", ContentSha256Hex(content)}}));
}

}  // namespace ostrel
