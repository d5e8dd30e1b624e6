#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report_queries.h"
#include "store.h"

namespace ostrel {

// What happened to each product and offer, per wizard: the store's counts
// (report_queries.h) arranged for the text, JSON and HTML reports. Building and
// printing touch no shared state: any thread may call them. BuildReport throws
// std::runtime_error when the store fails.

// An event type as the wizard writes it in field "6", in the order a package's life runs.
struct EventTypeName {
  const char* code;
  const char* name;
};
inline constexpr EventTypeName kEventTypes[] = {
    {"1", "started"}, {"2", "rejected"}, {"4", "declined"}, {"3", "done"}, {"-1", "failed"}, {"5", "closed"},
};

struct TextCount {
  std::string text;
  std::int64_t count = 0;
};

struct PackageReport {
  std::string kind;                   // "main", "offer" or "unknown (field 10 = <value>)"
  std::string offer;                  // the offer code (field "5"); the product for the main product
  std::vector<std::int64_t> counts;   // one per kEventTypes entry, zeros included
  std::vector<TextCount> otherTypes;  // types the wizard does not send, by type
  std::vector<TextCount> reasons;     // of rejections, largest first
  std::vector<TextCount> failures;    // of failures, largest first

  std::int64_t Count(const char* typeName) const;
};

struct ProductReport {
  std::string wizard;                      // "download", "installer" or "" (no start of its runs was stored)
  std::string product;                     // "": runs that never got further than their start
  std::vector<PackageReport> packages;     // the main product first, then offers by code, then unknown kinds
  std::vector<TextCount> startsByWindows;  // field "31", largest first
};

struct Report {
  std::int64_t events = 0;
  std::string firstReceived, lastReceived;
  std::vector<ProductReport> products;  // download wizard first, then installer; by product
  // Every hour from the first event to the last ("YYYY-MM-DDTHH"), zeros included;
  // per day ("YYYY-MM-DD") when the period is longer than kMaxHours.
  std::vector<TextCount> eventsOverTime;
  bool perDay = false;

  static constexpr std::size_t kMaxHours = 24 * 31;
};

Report BuildReport(const ReportCounts& counts);
Report BuildReport(const Store& store);

// {"events", "products": [{"wizard", "product", "packages": [{"kind", "offer",
// "counts", "reasons", "errors", "otherTypes"}]}]}.
nlohmann::json ReportJson(const Report& report);
// One aligned table per product, with the reasons and failure texts below it.
std::string ReportText(const Report& report);

// Texts from the wire, quoted so odd bytes and blanks stay visible.
std::string Quote(const std::string& text);

}  // namespace ostrel
