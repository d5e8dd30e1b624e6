#include "control_service.h"

#include "config_signing.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "body_json.h"
#include "faults.h"
#include "file_book.h"
#include "report.h"
#include "store.h"

namespace ostrel {

namespace {

using nlohmann::json;

// Bodies are byte strings; the wizard only sends UTF-8, and anything else must not
// stop a test from reading the rest.
std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

ControlService::ControlService(const ServiceContext& context)
    : store_(context.store),
      faults_(context.faults),
      files_(context.files),
      signatureTampers_(context.signatureTampers) {}

void ControlService::Mount(Routes& routes) {
  routes.ControlGet("/_test/requests", [this](const httplib::Request& req, httplib::Response& res) {
    std::optional<std::string> path;
    if (req.has_param("path")) path = req.get_param_value("path");
    bool full = req.get_param_value("full") == "1";
    json out = json::array();
    for (const RequestRecord& r : store_.Requests(path)) {
      if (!full) {
        out.push_back(r.body);
        continue;
      }
      out.push_back({{"id", r.id},
                     {"receivedAt", r.receivedAt},
                     {"listener", r.listener},
                     {"method", r.method},
                     {"path", r.path},
                     {"headers", r.headers},
                     {"body", r.body},
                     {"status", r.status}});
    }
    SendJson(res, 200, Dump(out));
  });

  routes.ControlGet("/_test/events", [this](const httplib::Request&, httplib::Response& res) {
    json out = json::array();
    for (const StoredEvent& e : store_.Events()) {
      out.push_back(
          {{"id", e.id}, {"receivedAt", e.receivedAt}, {"table", e.table}, {"fields", e.fields}, {"raw", e.rawBody}});
    }
    SendJson(res, 200, Dump(out));
  });

  routes.ControlGet("/_test/report", [this](const httplib::Request& req, httplib::Response& res) {
    const Report report = BuildReport(store_);
    if (req.get_param_value("format") == "json") {
      SendJson(res, 200, Dump(ReportJson(report)));
    } else {
      res.set_content(ReportText(report), "text/plain; charset=utf-8");
    }
  });

  routes.ControlGet("/_test/faults", [this](const httplib::Request&, httplib::Response& res) {
    SendJson(res, 200, Dump(faults_.Pending()));
  });

  routes.ControlPost("/_test/faults", [this](const httplib::Request& req, httplib::Response& res) {
    json request = ParseBodyJson(req.body).value;
    try {
      auto [path, count] = faults_.Set(request);
      SendJson(res, 200, json{{"path", path}, {"steps", count}}.dump());
    } catch (const std::invalid_argument& e) {
      SendError(res, 400, e.what());
    }
  });

  routes.ControlPost("/_test/reset", [this](const httplib::Request&, httplib::Response& res) {
    faults_.Clear();
    files_.Clear();
    signatureTampers_.Clear();
    store_.Clear();
    SendJson(res, 200, "{}");
  });
}

}  // namespace ostrel
