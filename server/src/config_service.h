#pragma once

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "service.h"

namespace ostrel {

// Which configuration file answers a configuration request.
struct ConfigChoice {
  int status = 200;            // 400: request not a JSON object (or nested too deeply); 404: no file to serve
  std::filesystem::path file;  // set when status is 200
  std::string reason;          // for the log line
};

// The download token "u" as a safe file stem, or "" when it is absent, not a string,
// or holds anything but ASCII letters, digits and hyphens (so it can never name a
// path outside the configurations folder).
std::string TokenStem(const nlohmann::json& request);

// DATA/configs/<u>.json when it exists, else DATA/configs/default.json. Reads the
// body once.
ConfigChoice ChooseConfig(const std::filesystem::path& configsDir, const std::string& requestBody);

// POST /o, signed when the server has a signing key.
class ConfigService : public Service {
 public:
  explicit ConfigService(const ServiceContext& context);
  void Mount(Routes& routes) override;

 private:
  // Sets the answer's signature header, spoiled as a test asked; answer may be changed after signing.
  void Sign(const httplib::Request& req, httplib::Response& res, std::string& answer) const;
  std::filesystem::path configsDir_;
  const ConfigSigner* signer_;
  SignatureTamperBook& tampers_;
};

}  // namespace ostrel
