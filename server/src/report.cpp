#include "report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

namespace ostrel {

namespace {

using nlohmann::json;

// Download wizard first: it is the one most runs go through.
int WizardOrder(const std::string& wizard) { return wizard == "download" ? 0 : 1; }

using ProductKey = std::tuple<int, std::string, std::string>;  // wizard order, wizard, product
using PackageKey = std::tuple<int, std::string, std::string>;  // kind order, kind field, offer

PackageKey PackageKeyOf(const std::string& kind, const std::string& offer) {
  return {kind == "1" ? 0 : kind == "2" ? 1 : 2, kind, offer};
}

struct ProductParts {
  std::map<PackageKey, PackageReport> packages;
  std::vector<TextCount> startsByWindows;
};

PackageReport& PackageIn(std::map<ProductKey, ProductParts>& products, const std::vector<std::string>& keys) {
  const std::string& product = keys[1];
  const std::string& kind = keys[2];
  ProductParts& parts = products[{WizardOrder(keys[0]), keys[0], product}];
  PackageReport& package = parts.packages[PackageKeyOf(kind, keys[3])];
  if (package.counts.empty()) {
    package.kind = kind == "1" ? "main" : kind == "2" ? "offer" : "unknown (field 10 = " + kind + ")";
    package.offer = kind == "1" ? product : keys[3];
    package.counts.assign(std::size(kEventTypes), 0);
  }
  return package;
}

void SortLargestFirst(std::vector<TextCount>& list) {
  std::stable_sort(list.begin(), list.end(), [](const TextCount& a, const TextCount& b) { return a.count > b.count; });
}

void AddTypeCount(PackageReport& package, const std::string& type, std::int64_t count) {
  for (std::size_t i = 0; i < std::size(kEventTypes); ++i) {
    if (type == kEventTypes[i].code) {
      package.counts[i] += count;
      return;
    }
  }
  package.otherTypes.push_back({type, count});
}

std::optional<std::time_t> HourStart(const std::string& hour) {
  std::tm tm{};
  char tail = 0;
  if (hour.size() != 13 ||
      std::sscanf(hour.c_str(), "%4d-%2d-%2dT%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tail) != 4) {
    return std::nullopt;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return timegm(&tm);
}

std::string HourText(std::time_t at) {
  std::tm tm{};
  gmtime_r(&at, &tm);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour);
  return text;
}

// A chart over time needs the quiet hours too; hours the store cannot name are left as they are.
std::vector<TextCount> EveryHour(const std::vector<CountRow>& rows) {
  std::vector<TextCount> listed;
  for (const CountRow& row : rows) listed.push_back({row.keys.at(0), row.count});
  if (listed.empty()) return listed;
  auto first = HourStart(listed.front().text), last = HourStart(listed.back().text);
  if (!first || !last || *last < *first) return listed;
  std::map<std::string, std::int64_t> byHour;
  for (const TextCount& hour : listed) byHour[hour.text] += hour.count;
  std::vector<TextCount> every;
  for (std::time_t at = *first; at <= *last; at += 3600) {
    std::string hour = HourText(at);
    auto it = byHour.find(hour);
    every.push_back({hour, it == byHour.end() ? 0 : it->second});
  }
  return every;
}

std::vector<TextCount> PerDay(const std::vector<TextCount>& hours) {
  std::vector<TextCount> days;
  for (const TextCount& hour : hours) {
    std::string day = hour.text.substr(0, 10);
    if (days.empty() || days.back().text != day) days.push_back({day, 0});
    days.back().count += hour.count;
  }
  return days;
}

// Left-aligned first column, right-aligned numbers; a last column of texts is left-aligned too.
std::string Table(const std::vector<std::vector<std::string>>& rows, const std::string& indent, bool textLast = false) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::ostringstream out;
  for (const auto& row : rows) {
    std::string line = indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string pad(widths[i] - row[i].size(), ' ');
      if (i == 0) {
        line += row[i] + pad;
      } else if (textLast && i + 1 == row.size()) {
        line += "  " + row[i];
      } else {
        line += "  " + pad + row[i];
      }
    }
    out << line << "\n";
  }
  return out.str();
}

std::string PackageName(const PackageReport& package) {
  if (package.kind == "main") return "main product";
  if (package.kind == "offer") return "offer " + Quote(package.offer);
  return "package " + Quote(package.offer) + ", " + package.kind;
}

std::string ProductHeading(const ProductReport& product) {
  const std::string wizard = product.wizard + " wizard";
  if (product.product.empty()) return wizard + ": runs that never got further than the start";
  return wizard + ", product " + Quote(product.product);
}

std::string PackageTable(const ProductReport& product) {
  bool anyOther = std::any_of(product.packages.begin(), product.packages.end(),
                              [](const PackageReport& p) { return !p.otherTypes.empty(); });
  std::vector<std::vector<std::string>> rows(1, {"package"});
  for (const EventTypeName& type : kEventTypes) rows[0].push_back(type.name);
  if (anyOther) rows[0].push_back("other types");
  for (const PackageReport& package : product.packages) {
    std::vector<std::string>& row = rows.emplace_back(1, PackageName(package));
    for (std::int64_t count : package.counts) row.push_back(std::to_string(count));
    if (!anyOther) continue;
    std::string other;
    for (const TextCount& type : package.otherTypes) {
      if (!other.empty()) other += ' ';
      other += Quote(type.text);
      other += '=';
      other += std::to_string(type.count);
    }
    row.push_back(other.empty() ? "-" : other);
  }
  return Table(rows, "  ");
}

std::string TextsTable(const ProductReport& product) {
  std::vector<std::vector<std::string>> rows;
  for (const PackageReport& package : product.packages) {
    for (const TextCount& reason : package.reasons) {
      rows.push_back({"rejected  " + PackageName(package), std::to_string(reason.count), Quote(reason.text)});
    }
    for (const TextCount& failure : package.failures) {
      rows.push_back({"failed    " + PackageName(package), std::to_string(failure.count), Quote(failure.text)});
    }
  }
  if (rows.empty()) return {};
  rows.insert(rows.begin(), {"reason or failure text", "count", "text"});
  return Table(rows, "  ", true);
}

}  // namespace

std::int64_t PackageReport::Count(const char* typeName) const {
  for (std::size_t i = 0; i < std::size(kEventTypes) && i < counts.size(); ++i) {
    if (std::string(kEventTypes[i].name) == typeName) return counts[i];
  }
  return 0;
}

std::string Quote(const std::string& text) { return json(text).dump(-1, ' ', false, json::error_handler_t::replace); }

Report BuildReport(const ReportCounts& counts) {
  std::map<ProductKey, ProductParts> products;
  for (const CountRow& row : counts.packageEvents) AddTypeCount(PackageIn(products, row.keys), row.keys[4], row.count);
  for (const CountRow& row : counts.eventTexts) {
    PackageReport& package = PackageIn(products, row.keys);
    (row.keys[4] == "2" ? package.reasons : package.failures).push_back({row.keys[5], row.count});
  }
  for (const CountRow& row : counts.startsByWindows) {
    products[{WizardOrder(row.keys[0]), row.keys[0], row.keys[1]}].startsByWindows.push_back({row.keys[2], row.count});
  }

  Report report;
  report.events = counts.events;
  report.firstReceived = counts.firstReceived;
  report.lastReceived = counts.lastReceived;
  for (auto& [key, parts] : products) {
    ProductReport& product = report.products.emplace_back();
    product.wizard = std::get<1>(key);
    product.product = std::get<2>(key);
    for (auto& [packageKey, package] : parts.packages) {
      SortLargestFirst(package.reasons);
      SortLargestFirst(package.failures);
      product.packages.push_back(std::move(package));
    }
    product.startsByWindows = std::move(parts.startsByWindows);
    SortLargestFirst(product.startsByWindows);
  }
  report.eventsOverTime = EveryHour(counts.eventsPerHour);
  if (report.eventsOverTime.size() > Report::kMaxHours) {
    report.eventsOverTime = PerDay(report.eventsOverTime);
    report.perDay = true;
  }
  return report;
}

Report BuildReport(const Store& store) { return BuildReport(CountReport(store)); }

json ReportJson(const Report& report) {
  json out = {{"events", report.events}, {"products", json::array()}};
  for (const ProductReport& product : report.products) {
    json packages = json::array();
    for (const PackageReport& package : product.packages) {
      json counts = json::object();
      for (std::size_t i = 0; i < std::size(kEventTypes); ++i) counts[kEventTypes[i].name] = package.counts[i];
      json entry = {{"kind", package.kind}, {"offer", package.offer}, {"counts", counts}};
      auto object = [](const std::vector<TextCount>& list) {
        json texts = json::object();
        for (const TextCount& text : list) texts[text.text] = text.count;
        return texts;
      };
      if (!package.reasons.empty()) entry["reasons"] = object(package.reasons);
      if (!package.failures.empty()) entry["errors"] = object(package.failures);
      if (!package.otherTypes.empty()) entry["otherTypes"] = object(package.otherTypes);
      packages.push_back(std::move(entry));
    }
    out["products"].push_back(
        {{"wizard", product.wizard}, {"product", product.product}, {"packages", std::move(packages)}});
  }
  return out;
}

std::string ReportText(const Report& report) {
  std::ostringstream out;
  out << report.events << " event(s)";
  if (report.events > 0) out << ", received " << report.firstReceived << " to " << report.lastReceived;
  out << "\n";
  for (const ProductReport& product : report.products) {
    out << "\n" << ProductHeading(product) << "\n" << PackageTable(product) << TextsTable(product);
  }
  return out.str();
}

}  // namespace ostrel
