#include "report_queries.h"

#include <map>
#include <stdexcept>

namespace ostrel {

namespace {

// Every query reads events' own columns through an index that holds all it needs
// (store.cpp), and most group in the index's order: SQLite then counts while it
// walks the index instead of sorting a million rows.

// Events that name their product, by package and type: all wizards together.
constexpr const char* kNamedEvents = R"sql(
SELECT product, package_kind, CASE WHEN package_kind = '1' THEN '' ELSE offer_code END, event_type, COUNT(*)
FROM events
WHERE product <> ''
GROUP BY product, package_kind, offer_code, event_type
)sql";

// The installer wizard's runs: those whose start names its product.
constexpr const char* kInstallerRuns = R"sql(
(SELECT DISTINCT run_machine, run_session FROM events
 WHERE event_type = '1' AND package_kind = '1' AND product <> '') AS s
)sql";

constexpr const char* kInstallerEvents = R"sql(
SELECT e.product, e.package_kind, CASE WHEN e.package_kind = '1' THEN '' ELSE e.offer_code END, e.event_type,
       COUNT(*)
FROM events e JOIN %RUNS% ON e.run_machine = s.run_machine AND e.run_session = s.run_session
WHERE e.product <> ''
GROUP BY e.product, e.package_kind, e.offer_code, e.event_type
)sql";

// Events that name no product (the download wizard's starts) under the product the
// other events of their run name, '' when none does.
constexpr const char* kUnnamedEvents = R"sql(
SELECT product, kind, offer, event_type, windows, detail, COUNT(*)
FROM (SELECT COALESCE((SELECT MAX(p.product) FROM events p
                       WHERE p.run_machine = e.run_machine AND p.run_session = e.run_session AND p.product <> ''),
                      '') AS product,
             e.package_kind AS kind, CASE WHEN e.package_kind = '1' THEN '' ELSE e.offer_code END AS offer,
             e.event_type, e.windows,
             CASE WHEN e.event_type = '2' THEN e.reason WHEN e.event_type = '-1' THEN e.failure_text ELSE '' END
               AS detail
      FROM events e WHERE e.product = '') AS u
GROUP BY product, kind, offer, event_type, windows, detail
)sql";

// Rejections carry their reason in "13", failures their text in "12".
constexpr const char* kNamedTexts = R"sql(
SELECT product, package_kind, CASE WHEN package_kind = '1' THEN '' ELSE offer_code END, event_type,
       CASE WHEN event_type = '2' THEN reason ELSE failure_text END, COUNT(*)
FROM events
WHERE event_type IN ('2', '-1') AND product <> ''
GROUP BY event_type, product, package_kind, offer_code, reason, failure_text
)sql";

constexpr const char* kInstallerTexts = R"sql(
SELECT e.product, e.package_kind, CASE WHEN e.package_kind = '1' THEN '' ELSE e.offer_code END, e.event_type,
       CASE WHEN e.event_type = '2' THEN e.reason ELSE e.failure_text END, COUNT(*)
FROM events e JOIN %RUNS% ON e.run_machine = s.run_machine AND e.run_session = s.run_session
WHERE e.event_type IN ('2', '-1') AND e.product <> ''
GROUP BY e.event_type, e.product, e.package_kind, e.offer_code, e.reason, e.failure_text
)sql";

// A start that names its product is the installer wizard's.
constexpr const char* kInstallerStartsByWindows = R"sql(
SELECT product, windows, COUNT(*)
FROM events
WHERE event_type = '1' AND package_kind = '1' AND product <> ''
GROUP BY product, windows
)sql";

// received_at is ISO 8601 text in both engines: its first 13 characters name the hour.
constexpr const char* kEventsPerHour = R"sql(
SELECT substr(received_at, 1, 13), COUNT(*) FROM events GROUP BY substr(received_at, 1, 13)
ORDER BY substr(received_at, 1, 13)
)sql";

constexpr const char* kTotals = "SELECT COUNT(*), MIN(received_at), MAX(received_at) FROM events";

std::string WithInstallerRuns(const char* query) {
  std::string sql = query;
  sql.replace(sql.find("%RUNS%"), 6, kInstallerRuns);
  return sql;
}

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

// Counts per wizard, added up from the queries' parts; groups that come to zero go.
class WizardCounts {
 public:
  void Add(const std::string& wizard, std::vector<std::string> keys, std::int64_t count) {
    keys.insert(keys.begin(), wizard);
    counts_[std::move(keys)] += count;
  }
  void AddAll(const std::string& wizard, const std::vector<CountRow>& rows, int sign = 1) {
    for (const CountRow& row : rows) Add(wizard, row.keys, sign * row.count);
  }
  std::vector<CountRow> Rows() const {
    std::vector<CountRow> rows;
    for (const auto& [keys, count] : counts_) {
      if (count != 0) rows.push_back({keys, count});
    }
    return rows;
  }

 private:
  std::map<std::vector<std::string>, std::int64_t> counts_;
};

}  // namespace

ReportCounts CountReport(const Store& store) {
  ReportCounts counts;
  auto totals = store.Select(kTotals);
  if (totals.size() == 1 && totals[0].size() == 3) {
    counts.events = CountOf(totals[0][0]);
    counts.firstReceived = totals[0][1].value_or("");
    counts.lastReceived = totals[0][2].value_or("");
  }
  const auto installerEvents = Counted(store.Select(WithInstallerRuns(kInstallerEvents)));
  const auto installerTexts = Counted(store.Select(WithInstallerRuns(kInstallerTexts)));
  WizardCounts packages, texts, starts;
  // The download wizard's named events are all named events but the installer's.
  packages.AddAll("download", Counted(store.Select(kNamedEvents)));
  packages.AddAll("download", installerEvents, -1);
  packages.AddAll("installer", installerEvents);
  texts.AddAll("download", Counted(store.Select(kNamedTexts)));
  texts.AddAll("download", installerTexts, -1);
  texts.AddAll("installer", installerTexts);
  starts.AddAll("installer", Counted(store.Select(kInstallerStartsByWindows)));
  // product, kind, offer, type, Windows version, reason or failure text
  for (const CountRow& row : Counted(store.Select(kUnnamedEvents))) {
    const auto& k = row.keys;
    packages.Add("download", {k[0], k[1], k[2], k[3]}, row.count);
    if (k[3] == "2" || k[3] == "-1") texts.Add("download", {k[0], k[1], k[2], k[3], k[5]}, row.count);
    if (k[1] == "1" && k[3] == "1") starts.Add("download", {k[0], k[4]}, row.count);
  }
  counts.packageEvents = packages.Rows();
  counts.eventTexts = texts.Rows();
  counts.startsByWindows = starts.Rows();
  counts.eventsPerHour = Counted(store.Select(kEventsPerHour));
  return counts;
}

}  // namespace ostrel
