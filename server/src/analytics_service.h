#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "service.h"
#include "sha256_hex.h"

namespace ostrel {

inline constexpr const char* kAnalyticsTable = "zb_analytics";

// "Signature=" + lower-case hex SHA-256 of machine id followed by session timestamp.
std::string ExpectedSignature(const std::string& machineId, const std::string& sessionTimestamp);

// The outcome of one analytics POST before anything is stored.
struct EventCheck {
  int status = 200;  // 200, 400 (malformed envelope or event) or 401 (signature)
  std::string message;
  std::string table;
  nlohmann::json data;  // the decoded event object when status is 200
};

// authorization: every value of the Authorization header in the request (normally one).
EventCheck CheckEvent(const std::string& body, const std::vector<std::string>& authorization);

// POST /zbd
class AnalyticsService : public Service {
 public:
  explicit AnalyticsService(const ServiceContext& context);
  void Mount(Routes& routes) override;

 private:
  Store& store_;
};

}  // namespace ostrel
