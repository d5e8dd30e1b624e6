#include "analytics_service.h"

#include <array>
#include <stdexcept>

#include <openssl/evp.h>

#include "body_json.h"
#include "store.h"

namespace ostrel {

using nlohmann::json;

std::string ExpectedSignature(const std::string& machineId, const std::string& sessionTimestamp) {
  return "Signature=" + Sha256Hex(machineId + sessionTimestamp);
}

EventCheck CheckEvent(const std::string& body, const std::vector<std::string>& authorization) {
  EventCheck check;
  auto fail = [&check](int status, std::string message) {
    check.status = status;
    check.message = std::move(message);
    check.data = json();
    return check;
  };
  // Without a signature nothing about the body matters.
  if (authorization.empty()) return fail(401, "missing Authorization header");
  if (authorization.size() > 1) return fail(401, "more than one Authorization header");

  BodyJson envelopeJson = ParseBodyJson(body);
  if (envelopeJson.verdict == BodyJson::Verdict::TooDeep) return fail(400, envelopeJson.Problem());
  const json& envelope = envelopeJson.value;
  if (!envelope.is_object()) return fail(400, "body is not a JSON object");
  auto table = envelope.find("table");
  if (table == envelope.end() || !table->is_string()) return fail(400, "\"table\" is missing or not a string");
  check.table = table->get<std::string>();
  auto data = envelope.find("data");
  // The event travels as JSON text inside a string, not as a nested object.
  if (data == envelope.end() || !data->is_string()) return fail(400, "\"data\" is missing or not a string");
  BodyJson eventJson = ParseBodyJson(data->get_ref<const std::string&>());
  if (eventJson.verdict == BodyJson::Verdict::TooDeep)
    return fail(400, std::string("\"data\": ") + eventJson.Problem());
  json& event = eventJson.value;
  if (!event.is_object()) return fail(400, "\"data\" does not hold a JSON object");
  auto machineId = event.find("1");
  auto timestamp = event.find("2");
  if (machineId == event.end() || !machineId->is_string() || timestamp == event.end() || !timestamp->is_string()) {
    return fail(400, "event fields \"1\" and \"2\" must be strings");
  }
  if (authorization.front() != ExpectedSignature(machineId->get<std::string>(), timestamp->get<std::string>())) {
    return fail(401, "signature does not match fields \"1\" and \"2\"");
  }
  if (check.table != kAnalyticsTable) return fail(400, "unknown table \"" + check.table + "\"");
  check.data = std::move(event);
  return check;
}

AnalyticsService::AnalyticsService(const ServiceContext& context) : store_(context.store) {}

void AnalyticsService::Mount(Routes& routes) {
  routes.Post("/zbd", [this](const httplib::Request& req, httplib::Response& res) {
    std::vector<std::string> authorization;
    auto [from, to] = req.headers.equal_range("Authorization");
    for (auto it = from; it != to; ++it) authorization.push_back(it->second);

    EventCheck check = CheckEvent(req.body, authorization);
    if (check.status != 200) {
      SendError(res, check.status, check.message);
      return;
    }
    try {
      store_.AddEvent(Store::NowUtc(), check.table, req.body, check.data);
    } catch (const std::exception&) {
      // Not stored, so not answered as stored (the log says why): the wizard sends it once more.
      SendError(res, 503, "event not stored; send it again");
      return;
    }
    SendJson(res, 200, "{}");
  });
}

}  // namespace ostrel
