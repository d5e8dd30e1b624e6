#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "file_content.h"

namespace ostrel {

// How the body of a file answer is delimited on the wire.
enum class Framing { Length, Chunked, Close };

// Which scheme the absolute Locations of a redirect chain name.
enum class RedirectScheme { Same, Http, Https, Alternate };

// N redirect answers before the content: P -> P?hop=1 -> ... -> P?hop=N (the content,
// or "to" instead of the last hop).
struct RedirectChain {
  int hops = 1;
  int status = 302;
  RedirectScheme scheme = RedirectScheme::Same;
  bool relative = false;          // "name?hop=k" instead of an absolute URL
  std::optional<std::string> to;  // Location of the last hop, verbatim
};

// Everything a test can set for one path of the file host.
struct FileBehaviour {
  std::shared_ptr<const FileContent> content;  // null: the data folder's file, if any
  int status = 200;
  Framing framing = Framing::Length;
  std::optional<std::uint64_t> contentLength;  // announced instead of the real size
  std::optional<std::uint64_t> cutAfter;       // the connection drops after this many body bytes
  bool cutWithNoise = false;                   // before the drop, bytes that are no TLS record
  int cutFirst = 0;                            // cut only the first N requests (0: every one)
  bool ranges = true;                          // Range requests answered (else always the whole content)
  // Validators sent instead of the content's own: a value verbatim, or none at
  // all ("" here); unset, the content's strong ETag and modification time.
  std::optional<std::string> etag;
  std::optional<std::string> lastModified;
  std::optional<std::string> location;  // Location header, verbatim
  std::optional<RedirectChain> redirect;
  int failFirst = 0;  // the first N requests get failStatus, no body
  int failStatus = 503;
  std::size_t chunkBytes = 64 * 1024;  // bytes per write
  int chunkDelayMs = 0;                // pause after each write (slow delivery)
  std::string contentType = "application/octet-stream";
};

struct FileAnswer {
  FileBehaviour behaviour;
  bool fail = false;  // this request is one of the first failFirst ones
  bool cut = false;   // this request's body drops after cutAfter bytes
  // Body bytes sent for the path so far, shared with every answer under way.
  std::shared_ptr<std::atomic<std::uint64_t>> bodyBytesSent;
};

// Per-path behaviours of the file host that tests set while the server runs.
class FileBook {
 public:
  // Replaces (or with "remove": true, drops) the behaviour of one path. Throws
  // std::invalid_argument with a message fit for the client; nothing changes then.
  // Returns the path.
  std::string Set(const nlohmann::json& request);

  // The behaviour for a request to the path; counts the request.
  std::optional<FileAnswer> Take(const std::string& path);
  std::optional<FileBehaviour> Find(const std::string& path) const;
  void Clear();
  // Paths with their settings, the number of requests seen and the body bytes
  // sent for them (content not included).
  nlohmann::json Describe() const;

  static constexpr int kMaxHops = 50;
  static constexpr std::size_t kMaxChunkBytes = 16 * 1024 * 1024;
  static constexpr int kMaxChunkDelayMs = 60 * 1000;

 private:
  struct Entry {
    FileBehaviour behaviour;
    nlohmann::json settings;  // as given, for Describe
    int requests = 0;
    std::shared_ptr<std::atomic<std::uint64_t>> bodyBytesSent = std::make_shared<std::atomic<std::uint64_t>>(0);
  };

  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

// Strict standard base64 (padding required, no line breaks). Throws std::invalid_argument.
std::string DecodeBase64(const std::string& text);

}  // namespace ostrel
