#include "report_queries.h"

#include <stdexcept>

namespace ostrel {

namespace {

// Each run once, with the product its events name and the wizard its start shows.
// Every query below joins its events to this.
constexpr const char* kRuns = R"sql(
WITH runs AS (
  SELECT run_machine, run_session, MAX(NULLIF(product, '')) AS product,
         MIN(CASE WHEN event_type = '1' THEN CASE WHEN product = '' THEN 'download' ELSE 'installer' END END)
           AS wizard
  FROM events
  GROUP BY run_machine, run_session
)
)sql";

constexpr const char* kPackageEvents = R"sql(
SELECT COALESCE(r.wizard, ''), COALESCE(NULLIF(e.product, ''), r.product, ''), e.package_kind,
       CASE WHEN e.package_kind = '1' THEN '' ELSE e.offer_code END, e.event_type, COUNT(*)
FROM events e JOIN runs r ON r.run_machine = e.run_machine AND r.run_session = e.run_session
GROUP BY 1, 2, 3, 4, 5
)sql";

// Rejections carry their reason in "13", failures their text in "12".
constexpr const char* kEventTexts = R"sql(
SELECT COALESCE(r.wizard, ''), COALESCE(NULLIF(e.product, ''), r.product, ''), e.package_kind,
       CASE WHEN e.package_kind = '1' THEN '' ELSE e.offer_code END, e.event_type, f.value, COUNT(*)
FROM events e
JOIN runs r ON r.run_machine = e.run_machine AND r.run_session = e.run_session
JOIN event_fields f ON f.event_id = e.id AND f.field = CASE WHEN e.event_type = '2' THEN '13' ELSE '12' END
WHERE e.event_type IN ('2', '-1')
GROUP BY 1, 2, 3, 4, 5, 6
)sql";

constexpr const char* kStartsByWindows = R"sql(
SELECT COALESCE(r.wizard, ''), COALESCE(NULLIF(e.product, ''), r.product, ''), COALESCE(v.value, ''), COUNT(*)
FROM events e
JOIN runs r ON r.run_machine = e.run_machine AND r.run_session = e.run_session
LEFT JOIN event_fields v ON v.event_id = e.id AND v.field = '31'
WHERE e.event_type = '1' AND e.package_kind = '1'
GROUP BY 1, 2, 3
)sql";

// received_at is ISO 8601 text in both engines: its first 13 characters name the hour.
constexpr const char* kEventsPerHour = R"sql(
SELECT substr(received_at, 1, 13), COUNT(*) FROM events GROUP BY 1 ORDER BY 1
)sql";

constexpr const char* kTotals = "SELECT COUNT(*), MIN(received_at), MAX(received_at) FROM events";

std::int64_t CountOf(const std::optional<std::string>& text) { return text ? std::stoll(*text) : 0; }

// The last column of each row is its count; the ones before it are its keys.
std::vector<CountRow> Counted(const std::vector<std::vector<std::optional<std::string>>>& rows) {
  std::vector<CountRow> out;
  out.reserve(rows.size());
  for (const auto& row : rows) {
    if (row.empty()) throw std::runtime_error("report query returned a row without columns");
    CountRow& counted = out.emplace_back();
    for (std::size_t i = 0; i + 1 < row.size(); ++i) counted.keys.push_back(row[i].value_or(""));
    counted.count = CountOf(row.back());
  }
  return out;
}

std::vector<CountRow> CountOverRuns(const Store& store, const char* query) {
  return Counted(store.Select(std::string(kRuns) + query));
}

}  // namespace

ReportCounts CountReport(const Store& store) {
  ReportCounts counts;
  auto totals = store.Select(kTotals);
  if (totals.size() == 1 && totals[0].size() == 3) {
    counts.events = CountOf(totals[0][0]);
    counts.firstReceived = totals[0][1].value_or("");
    counts.lastReceived = totals[0][2].value_or("");
  }
  counts.packageEvents = CountOverRuns(store, kPackageEvents);
  counts.eventTexts = CountOverRuns(store, kEventTexts);
  counts.startsByWindows = CountOverRuns(store, kStartsByWindows);
  counts.eventsPerHour = Counted(store.Select(kEventsPerHour));
  return counts;
}

}  // namespace ostrel
