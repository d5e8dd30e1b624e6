#include <sqlite3.h>

#include <sstream>

#include <gtest/gtest.h>

#include "cli.h"
#include "report.h"
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

class ReportTest : public StoreTest {
 protected:
  void SetUp() override {
    Add(MainEvent("Kelvanor Pro", "1"));
    Add(OfferEvent("Kelvanor Pro", "OFR-B", "2", {{"13", "disk"}}));
    Add(OfferEvent("Kelvanor Pro", "OFR-B", "2", {{"13", "disk"}}));
    Add(OfferEvent("Kelvanor Pro", "OFR-B", "2", {{"13", "process running"}}));
    Add(OfferEvent("Kelvanor Pro", "OFR-A", "4"));
    Add(OfferEvent("Kelvanor Pro", "OFR-A", "5"));
    Add(OfferEvent("Kelvanor Pro", "OFR-C", "3"));
    Add(OfferEvent("Kelvanor Pro", "OFR-C", "-1", {{"12", "installer did not start"}}));
    Add(MainEvent("Kelvanor Pro", "5"));
    // Same offer code under another product must not be merged.
    Add(OfferEvent("Other App", "OFR-A", "4"));
    Add(OfferEvent("Other App", "OFR-A", "9"));
  }

  static const json& Package(const json& report, const std::string& product, const std::string& kind,
                             const std::string& offer) {
    for (const json& p : report["products"]) {
      if (p["product"] != product) continue;
      for (const json& pkg : p["packages"]) {
        if (pkg["kind"] == kind && pkg["offer"] == offer) return pkg;
      }
    }
    static const json none;
    ADD_FAILURE() << "no " << kind << " " << offer << " under " << product;
    return none;
  }
};

TEST_F(ReportTest, CountsEventsPerProductAndOfferByType) {
  json report = ReportJson(store_.Events());
  EXPECT_EQ(report["events"], 11);
  ASSERT_EQ(report["products"].size(), 2u);

  const json& main = Package(report, "Kelvanor Pro", "main", "Kelvanor Pro");
  EXPECT_EQ(main["counts"],
            (json{{"started", 1}, {"rejected", 0}, {"declined", 0}, {"done", 0}, {"failed", 0}, {"closed", 1}}));

  const json& b = Package(report, "Kelvanor Pro", "offer", "OFR-B");
  EXPECT_EQ(b["counts"]["rejected"], 3);
  EXPECT_EQ(b["reasons"], (json{{"disk", 2}, {"process running", 1}}));

  const json& a = Package(report, "Kelvanor Pro", "offer", "OFR-A");
  EXPECT_EQ(a["counts"]["declined"], 1);
  EXPECT_EQ(a["counts"]["closed"], 1);
  EXPECT_EQ(a["counts"]["rejected"], 0);

  const json& c = Package(report, "Kelvanor Pro", "offer", "OFR-C");
  EXPECT_EQ(c["counts"]["done"], 1);
  EXPECT_EQ(c["counts"]["failed"], 1);
  EXPECT_EQ(c["errors"], (json{{"installer did not start", 1}}));

  const json& other = Package(report, "Other App", "offer", "OFR-A");
  EXPECT_EQ(other["counts"]["declined"], 1);
  EXPECT_EQ(other["counts"]["closed"], 0);
  EXPECT_EQ(other["otherTypes"], (json{{"9", 1}}));
}

TEST_F(ReportTest, TextNamesEveryPackageWithItsCountsAndTexts) {
  std::string text = ReportText(store_.Events());
  // Each block starts with its heading; the lines under it belong to it.
  auto block = [&text](const std::string& heading, const std::string& next) {
    auto from = text.find(heading);
    EXPECT_NE(from, std::string::npos) << heading << "\n" << text;
    auto to = next.empty() ? std::string::npos : text.find(next, from + heading.size());
    return from == std::string::npos ? std::string() : text.substr(from, to == std::string::npos ? to : to - from);
  };
  EXPECT_EQ(text.find("11 event(s)\n"), 0u) << text;
  std::string main = block("product \"Kelvanor Pro\"\n  main product\n", "  offer ");
  EXPECT_NE(main.find("    started: 1\n"), std::string::npos) << main;
  EXPECT_NE(main.find("    closed: 1\n"), std::string::npos) << main;
  std::string b = block("  offer \"OFR-B\"\n", "  offer ");
  EXPECT_NE(b.find("    rejected: 3\n      \"disk\": 2\n      \"process running\": 1\n"), std::string::npos) << b;
  std::string c = block("  offer \"OFR-C\"\n", "product ");
  EXPECT_NE(c.find("    failed: 1\n      \"installer did not start\": 1\n"), std::string::npos) << c;
  std::string other = block("product \"Other App\"\n  offer \"OFR-A\"\n", "");
  EXPECT_NE(other.find("    declined: 1\n"), std::string::npos) << other;
  EXPECT_NE(other.find("    other type \"9\": 1\n"), std::string::npos) << other;
}

TEST_F(ReportTest, ReportCommandReadsTheDataFolder) {
  std::ostringstream out, err;
  EXPECT_EQ(RunReport({dir_.path(), false}, out, err), 0) << err.str();
  EXPECT_EQ(out.str(), ReportText(store_.Events()));

  std::ostringstream jsonOut;
  EXPECT_EQ(RunReport({dir_.path(), true}, jsonOut, err), 0) << err.str();
  EXPECT_EQ(json::parse(jsonOut.str()), ReportJson(store_.Events()));

  TempDir empty;
  std::ostringstream none, noneErr;
  EXPECT_EQ(RunReport({empty.path(), false}, none, noneErr), 1);
  EXPECT_TRUE(none.str().empty());
  EXPECT_NE(noneErr.str().find("ostrel.db"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
