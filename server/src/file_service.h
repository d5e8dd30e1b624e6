#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "file_book.h"
#include "service.h"

namespace ostrel {

// Where a request came in, for building absolute Locations.
struct RequestOrigin {
  bool secure = false;
  std::string address;
  int httpsPort = 443;
  int httpPort = 80;
};

// The Location of redirect hop nextHop (1-based) of a chain on path.
std::string HopLocation(const RedirectChain& chain, const std::string& path, int nextHop, const RequestOrigin& origin);

// DATA/files/<rest> for a request path /f/<rest>; nothing for other paths or paths
// that would leave the folder.
std::optional<std::filesystem::path> FolderFileFor(const std::filesystem::path& filesDir, const std::string& path);

// The file host: GET on /f/... and on any path a test has given a behaviour, over
// HTTPS and plain HTTP; POST on the paths with a behaviour. Files come from DATA/files; behaviours set through
//   POST /_test/files   {"path": "/f/a.bin", ...}   (see the README)
//   GET  /_test/files[?path=P]                      size and SHA-256 of what P serves,
//                                                   or every behaviour set
// change the content, status, framing, redirects, failures and pace per path.
// Registered last: its GET route takes every path no earlier service claimed.
class FileService : public Service {
 public:
  explicit FileService(const ServiceContext& context);
  void Mount(Routes& routes) override;

 private:
  void Serve(const httplib::Request& req, httplib::Response& res);
  void ServePost(const httplib::Request& req, httplib::Response& res);
  void Describe(const httplib::Request& req, httplib::Response& res);
  std::shared_ptr<const FileContent> ContentFor(const std::string& path, const FileBehaviour* behaviour) const;
  RequestOrigin OriginOf(const httplib::Request& req) const;

  std::filesystem::path filesDir_;
  std::string address_;
  const ListenerPorts& ports_;
  FileBook& files_;
  FaultBook& faults_;
};

}  // namespace ostrel
