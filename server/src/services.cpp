#include <nlohmann/json.hpp>

#include "analytics_service.h"
#include "config_service.h"
#include "control_service.h"
#include "file_service.h"
#include "service.h"

namespace ostrel {

std::vector<std::unique_ptr<Service>> MakeServices(const ServiceContext& context) {
  std::vector<std::unique_ptr<Service>> services;
  services.push_back(std::make_unique<ControlService>(context));
  services.push_back(std::make_unique<ConfigService>(context));
  services.push_back(std::make_unique<AnalyticsService>(context));
  // Last: its GET route takes every path the others leave.
  services.push_back(std::make_unique<FileService>(context));
  return services;
}

void SendJson(httplib::Response& res, int status, const std::string& body) {
  res.status = status;
  res.set_content(body, "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& message) {
  SendJson(res, status,
           nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace ostrel
