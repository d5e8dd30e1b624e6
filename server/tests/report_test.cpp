#include <sqlite3.h>

#include <optional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "cli.h"
#include "report.h"
#include "report_html.h"
#include "store.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::TempDir;
using testing::WizardEvent;

json MainEvent(const std::string& product, const std::string& type) {
  return WizardEvent({{"5", product}, {"6", type}, {"10", 1}, {"22", product}});
}

json OfferEvent(const std::string& product, const std::string& offer, const std::string& type,
                const std::map<std::string, json>& extra = {}) {
  std::map<std::string, json> fields = {{"5", offer}, {"6", type},   {"10", 2},      {"16", "ch1"},
                                        {"17", "1"},  {"18", "tag"}, {"22", product}};
  for (const auto& [k, v] : extra) fields[k] = v;
  return WizardEvent(fields);
}

class StoreTest : public ::testing::Test {
 protected:
  std::int64_t Add(const json& event) {
    return store_.AddEvent(Store::NowUtc(), "zb_analytics", testing::EventEnvelope(event), event);
  }

  TempDir dir_;
  Store store_{Store::FileIn(dir_.path())};
};

TEST_F(StoreTest, EachFieldIsItsOwnRowWithItsJsonType) {
  json event = OfferEvent("Kelvanor Pro", "OFR-1", "2", {{"13", "not enough disk space"}});
  std::int64_t id = Add(event);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Store::FileIn(dir_.path()).c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT field, value, value_json FROM event_fields WHERE event_id = ?", -1, &stmt,
                               nullptr),
            SQLITE_OK);
  sqlite3_bind_int64(stmt, 1, id);
  json fromRows = json::object();
  std::size_t rows = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    ++rows;
    std::string field = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    std::string value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
    fromRows[field] = json::parse(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2)));
    if (event[field].is_string()) {
      EXPECT_EQ(value, event[field].get<std::string>()) << field;
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);

  EXPECT_EQ(rows, event.size());
  EXPECT_EQ(fromRows, event);
  EXPECT_TRUE(fromRows["10"].is_number());
}

TEST_F(StoreTest, SelectBindsItsParametersAndKeepsNullsApart) {
  Add(OfferEvent("Kelvanor Pro", "OFR-1", "2", {{"13", "disk"}}));
  Add(OfferEvent("Kelvanor Pro", "OFR-2", "4"));
  auto rows = store_.Select(
      "SELECT offer_code, COUNT(*), MAX(CASE WHEN event_type = ? THEN event_type END) FROM events "
      "WHERE product = ? GROUP BY offer_code ORDER BY offer_code",
      {"2", "Kelvanor Pro"});
  using Row = std::vector<std::optional<std::string>>;
  EXPECT_EQ(rows, (std::vector<Row>{{"OFR-1", "1", "2"}, {"OFR-2", "1", std::nullopt}}));
  EXPECT_THROW(store_.Select("SELECT nothing FROM nowhere"), std::runtime_error);
}

// A data folder written before events had the report's columns keeps working.
TEST(StoreUpgradeTest, EventsFromBeforeTheReportColumnsAreFilledFromTheirFields) {
  TempDir dir;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Store::FileIn(dir.path()).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE events (id INTEGER PRIMARY KEY AUTOINCREMENT, received_at TEXT NOT NULL, "
                         "table_name TEXT NOT NULL, raw_body BLOB NOT NULL);"
                         "CREATE TABLE event_fields (event_id INTEGER NOT NULL, field TEXT NOT NULL, value TEXT NOT "
                         "NULL, value_json TEXT NOT NULL, PRIMARY KEY (event_id, field));"
                         "INSERT INTO events VALUES (1, '2026-12-10T10:00:00.000Z', 'zb_analytics', '{}');"
                         "INSERT INTO event_fields VALUES (1, '22', 'Kelvanor Pro', '\"Kelvanor Pro\"'),"
                         "(1, '6', '3', '\"3\"'), (1, '10', '2', '2'), (1, '5', 'OFR-1', '\"OFR-1\"');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Store store(Store::FileIn(dir.path()));
  using Row = std::vector<std::optional<std::string>>;
  EXPECT_EQ(store.Select("SELECT run_machine, product, package_kind, offer_code, event_type FROM events"),
            (std::vector<Row>{{"", "Kelvanor Pro", "2", "OFR-1", "3"}}));
}

// Five runs: three of the download wizard that got their configuration, one that
// never got further than its start, and one of the installer wizard.
class ReportTest : public StoreTest {
 protected:
  void SetUp() override {
    using testing::RunEvent;
    const std::string kp = "Kelvanor Pro";
    const json win7 = "6.1.7601";
    for (const json& event : {
             RunEvent(1, "", 1, "", "1"),
             RunEvent(1, kp, 1, "", "3"),
             RunEvent(1, kp, 2, "OFR-B", "2", {{"13", "disk"}}),
             RunEvent(1, kp, 2, "OFR-A", "4"),
             RunEvent(1, kp, 2, "OFR-C", "3"),
             RunEvent(2, "", 1, "", "1", {{"31", win7}}),
             RunEvent(2, kp, 1, "", "-1", {{"12", "installer did not start"}, {"31", win7}}),
             RunEvent(2, kp, 2, "OFR-B", "2", {{"13", "disk"}, {"31", win7}}),
             RunEvent(2, kp, 2, "OFR-A", "5", {{"31", win7}}),
             RunEvent(2, kp, 2, "OFR-C", "-1", {{"12", "download failed: 12029"}, {"31", win7}}),
             RunEvent(3, "", 1, "", "1"),
             RunEvent(4, "Other App", 1, "", "1"),
             RunEvent(4, "Other App", 2, "OFR-A", "4"),
             RunEvent(4, "Other App", 2, "OFR-A", "9"),
             RunEvent(5, "", 1, "", "1"),
             RunEvent(5, kp, 1, "", "5"),
             RunEvent(5, kp, 2, "OFR-B", "2", {{"13", "process running"}}),
         }) {
      Add(event);
    }
  }

  static const json& Package(const json& report, const std::string& wizard, const std::string& product,
                             const std::string& kind, const std::string& offer) {
    for (const json& p : report["products"]) {
      if (p["wizard"] != wizard || p["product"] != product) continue;
      for (const json& pkg : p["packages"]) {
        if (pkg["kind"] == kind && pkg["offer"] == offer) return pkg;
      }
    }
    static const json none;
    ADD_FAILURE() << "no " << kind << " " << offer << " under " << wizard << " " << product;
    return none;
  }

  static json Counts(long started, long rejected, long declined, long done, long failed, long closed) {
    return {{"started", started}, {"rejected", rejected}, {"declined", declined},
            {"done", done},       {"failed", failed},     {"closed", closed}};
  }
};

TEST_F(ReportTest, EachRunCountsUnderTheProductAndWizardItsEventsName) {
  json report = ReportJson(BuildReport(store_));
  EXPECT_EQ(report["events"], 17);
  std::vector<std::pair<std::string, std::string>> products;
  for (const json& p : report["products"]) products.emplace_back(p["wizard"], p["product"]);
  EXPECT_EQ(products, (std::vector<std::pair<std::string, std::string>>{
                          {"download", ""}, {"download", "Kelvanor Pro"}, {"installer", "Other App"}}));
  // Starts sent before the configuration named the product belong to it; run 3 never got that far.
  EXPECT_EQ(Package(report, "download", "Kelvanor Pro", "main", "Kelvanor Pro")["counts"], Counts(3, 0, 0, 1, 1, 1));
  EXPECT_EQ(Package(report, "download", "", "main", "")["counts"], Counts(1, 0, 0, 0, 0, 0));
  EXPECT_EQ(Package(report, "installer", "Other App", "main", "Other App")["counts"], Counts(1, 0, 0, 0, 0, 0));
}

TEST_F(ReportTest, CountsEachOfferByTypeWithItsReasonsAndFailureTexts) {
  json report = ReportJson(BuildReport(store_));
  const json& main = Package(report, "download", "Kelvanor Pro", "main", "Kelvanor Pro");
  EXPECT_EQ(main["errors"], (json{{"installer did not start", 1}}));
  const json& b = Package(report, "download", "Kelvanor Pro", "offer", "OFR-B");
  EXPECT_EQ(b["counts"], Counts(0, 3, 0, 0, 0, 0));
  EXPECT_EQ(b["reasons"], (json{{"disk", 2}, {"process running", 1}}));
  EXPECT_EQ(Package(report, "download", "Kelvanor Pro", "offer", "OFR-A")["counts"], Counts(0, 0, 1, 0, 0, 1));
  const json& c = Package(report, "download", "Kelvanor Pro", "offer", "OFR-C");
  EXPECT_EQ(c["counts"], Counts(0, 0, 0, 1, 1, 0));
  EXPECT_EQ(c["errors"], (json{{"download failed: 12029", 1}}));
  // The same offer code under another product is not merged with it.
  const json& other = Package(report, "installer", "Other App", "offer", "OFR-A");
  EXPECT_EQ(other["counts"], Counts(0, 0, 1, 0, 0, 0));
  EXPECT_EQ(other["otherTypes"], (json{{"9", 1}}));
}

TEST_F(ReportTest, StartsAreCountedByWindowsVersionLargestFirst) {
  Report report = BuildReport(store_);
  ASSERT_EQ(report.products.size(), 3u);
  const auto& starts = report.products[1].startsByWindows;
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(std::make_pair(starts[0].text, starts[0].count), std::make_pair(std::string("10.0.19045"), 2L));
  EXPECT_EQ(std::make_pair(starts[1].text, starts[1].count), std::make_pair(std::string("6.1.7601"), 1L));
}

// The block of lines under a heading, up to the next empty line.
std::vector<std::string> Block(const std::string& text, const std::string& heading) {
  std::istringstream in(text.substr(std::min(text.size(), text.find("\n" + heading + "\n") + 1)));
  std::vector<std::string> lines;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line) && !line.empty()) lines.push_back(line);
  EXPECT_FALSE(lines.empty()) << heading << "\n" << text;
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST_F(ReportTest, TextIsOneAlignedTablePerProductWithItsTextsBelow) {
  std::string text = ReportText(BuildReport(store_));
  EXPECT_EQ(text.find("17 event(s), received "), 0u) << text;
  using Lines = std::vector<std::vector<std::string>>;
  struct Case {
    std::string heading;
    Lines table;  // the words of each line of the package table
    Lines texts;  // the words of each line below it
  };
  const Case cases[] = {
      {"download wizard: runs that never got further than the start",
       {{"package", "started", "rejected", "declined", "done", "failed", "closed"},
        {"main", "product", "1", "0", "0", "0", "0", "0"}},
       {}},
      {"download wizard, product \"Kelvanor Pro\"",
       {{"package", "started", "rejected", "declined", "done", "failed", "closed"},
        {"main", "product", "3", "0", "0", "1", "1", "1"},
        {"offer", "\"OFR-A\"", "0", "0", "1", "0", "0", "1"},
        {"offer", "\"OFR-B\"", "0", "3", "0", "0", "0", "0"},
        {"offer", "\"OFR-C\"", "0", "0", "0", "1", "1", "0"}},
       {{"reason", "or", "failure", "text", "count", "text"},
        {"failed", "main", "product", "1", "\"installer", "did", "not", "start\""},
        {"rejected", "offer", "\"OFR-B\"", "2", "\"disk\""},
        {"rejected", "offer", "\"OFR-B\"", "1", "\"process", "running\""},
        {"failed", "offer", "\"OFR-C\"", "1", "\"download", "failed:", "12029\""}}},
      {"installer wizard, product \"Other App\"",
       {{"package", "started", "rejected", "declined", "done", "failed", "closed", "other", "types"},
        {"main", "product", "1", "0", "0", "0", "0", "0", "-"},
        {"offer", "\"OFR-A\"", "0", "0", "1", "0", "0", "0", "\"9\"=1"}},
       {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = Block(text, c.heading);
    Lines words;
    for (const std::string& line : lines) words.push_back(Words(line));
    Lines expected = c.table;
    expected.insert(expected.end(), c.texts.begin(), c.texts.end());
    EXPECT_EQ(words, expected) << c.heading << "\n" << text;
    // Aligned: every line of the package table ends in the same column.
    for (std::size_t i = 0; i < c.table.size() && i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].size(), lines[0].size()) << lines[i];
    }
  }
}

TEST_F(ReportTest, ReportCommandReadsTheDataFolder) {
  std::ostringstream out, err;
  EXPECT_EQ(RunReport({dir_.path(), false, std::nullopt}, out, err), 0) << err.str();
  EXPECT_EQ(out.str(), ReportText(BuildReport(store_)));

  std::ostringstream jsonOut;
  EXPECT_EQ(RunReport({dir_.path(), true, std::nullopt}, jsonOut, err), 0) << err.str();
  EXPECT_EQ(json::parse(jsonOut.str()), ReportJson(BuildReport(store_)));

  std::ostringstream htmlOut;
  const auto page = dir_.path() / "report.html";
  EXPECT_EQ(RunReport({.dataDir = dir_.path(), .html = page}, htmlOut, err), 0) << err.str();
  EXPECT_TRUE(htmlOut.str().empty());
  EXPECT_EQ(testing::ReadFile(page), ReportHtml(BuildReport(store_)));

  TempDir empty;
  std::ostringstream none, noneErr;
  EXPECT_EQ(RunReport({empty.path(), false, std::nullopt}, none, noneErr), 1);
  EXPECT_TRUE(none.str().empty());
  EXPECT_NE(noneErr.str().find("ostrel.db"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
