#include "report.h"

#include <map>
#include <sstream>
#include <tuple>

namespace ostrel {

namespace {

using nlohmann::json;

struct TypeName {
  const char* code;  // field "6" as the wizard writes it
  const char* name;
  const char* detailField;  // field that explains the event, or nullptr
};

// In the order a package's life runs.
constexpr TypeName kTypes[] = {
    {"1", "started", nullptr}, {"2", "rejected", "13"}, {"4", "declined", nullptr},
    {"3", "done", nullptr},    {"-1", "failed", "12"},  {"5", "closed", nullptr},
};

std::string Text(const json& fields, const char* key) {
  auto it = fields.find(key);
  if (it == fields.end() || it->is_null()) return {};
  return it->is_string() ? it->get<std::string>() : it->dump(-1, ' ', false, json::error_handler_t::replace);
}

// Main product first, then offers by code, then anything the wizard should not send.
struct PackageKey {
  int order;
  std::string id;
  bool operator<(const PackageKey& other) const { return std::tie(order, id) < std::tie(other.order, other.id); }
};

struct Tally {
  std::string kind;
  std::map<std::string, long> counts;
  std::map<std::string, std::map<std::string, long>> details;  // type name -> text -> count
  std::map<std::string, long> otherTypes;
};

// Texts come from the wire: quote them so odd bytes and blanks stay visible.
std::string Quote(const std::string& text) { return json(text).dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

json ReportJson(const std::vector<StoredEvent>& events) {
  std::map<std::string, std::map<PackageKey, Tally>> products;
  for (const StoredEvent& event : events) {
    const json& f = event.fields;
    std::string kindField = Text(f, "10");
    PackageKey key{kindField == "1" ? 0 : kindField == "2" ? 1 : 2, Text(f, "5")};
    Tally& tally = products[Text(f, "22")][key];
    tally.kind = key.order == 0 ? "main" : key.order == 1 ? "offer" : "unknown (field 10 = " + kindField + ")";
    std::string type = Text(f, "6");
    bool known = false;
    for (const TypeName& t : kTypes) {
      if (type != t.code) continue;
      known = true;
      ++tally.counts[t.name];
      if (t.detailField) ++tally.details[t.name][Text(f, t.detailField)];
    }
    if (!known) ++tally.otherTypes[type];
  }

  json out = {{"events", events.size()}, {"products", json::array()}};
  for (const auto& [product, packages] : products) {
    json list = json::array();
    for (const auto& [key, tally] : packages) {
      json counts = json::object();
      for (const TypeName& t : kTypes) {
        auto it = tally.counts.find(t.name);
        counts[t.name] = it == tally.counts.end() ? 0 : it->second;
      }
      json package = {{"kind", tally.kind}, {"offer", key.id}, {"counts", counts}};
      for (const auto& [typeName, texts] : tally.details)
        package[typeName == "rejected" ? "reasons" : "errors"] = texts;
      if (!tally.otherTypes.empty()) package["otherTypes"] = tally.otherTypes;
      list.push_back(std::move(package));
    }
    out["products"].push_back({{"product", product}, {"packages", std::move(list)}});
  }
  return out;
}

std::string ReportText(const std::vector<StoredEvent>& events) {
  json report = ReportJson(events);
  std::ostringstream out;
  out << report["events"].get<std::size_t>() << " event(s)\n";
  for (const json& product : report["products"]) {
    out << "product " << Quote(product["product"].get<std::string>()) << "\n";
    for (const json& package : product["packages"]) {
      const std::string kind = package["kind"].get<std::string>();
      if (kind == "main") {
        out << "  main product\n";
      } else if (kind == "offer") {
        out << "  offer " << Quote(package["offer"].get<std::string>()) << "\n";
      } else {
        out << "  package " << Quote(package["offer"].get<std::string>()) << ", " << kind << "\n";
      }
      for (const TypeName& t : kTypes) {
        out << "    " << t.name << ": " << package["counts"][t.name].get<long>() << "\n";
        const char* detailKey = std::string(t.name) == "rejected" ? "reasons" : "errors";
        if (!t.detailField || !package.contains(detailKey)) continue;
        for (const auto& [text, count] : package[detailKey].items()) {
          out << "      " << Quote(text) << ": " << count.get<long>() << "\n";
        }
      }
      if (package.contains("otherTypes")) {
        for (const auto& [type, count] : package["otherTypes"].items()) {
          out << "    other type " << Quote(type) << ": " << count.get<long>() << "\n";
        }
      }
    }
  }
  return out.str();
}

}  // namespace ostrel
