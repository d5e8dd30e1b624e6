#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report.h"
#include "report_html.h"
#include "store.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::RunEvent;
using testing::TempDir;
using Cells = std::vector<std::string>;

std::string Decoded(std::string text) {
  const std::pair<const char*, const char*> entities[] = {{"&lt;", "<"},  {"&gt;", ">"},   {"&quot;", "\""},
                                                          {"&#39;", "'"}, {"&nbsp;", " "}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : entities) {
    for (auto at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
      text.replace(at, std::string(entity).size(), plain);
    }
  }
  return text;
}

// The text of an element's content: tags dropped, entities decoded.
std::string TextOf(const std::string& html) {
  std::string text;
  bool inTag = false;
  for (char c : html) {
    if (c == '<' || c == '>')
      inTag = c == '<';
    else if (!inTag)
      text += c;
  }
  return Decoded(text);
}

// Every table row of a page as the text of its cells.
std::vector<Cells> TableRows(const std::string& html) {
  std::vector<Cells> rows;
  for (auto row = html.find("<tr"); row != std::string::npos; row = html.find("<tr", row + 1)) {
    const auto end = html.find("</tr>", row);
    Cells& cells = rows.emplace_back();
    for (auto cell = html.find("<t", row + 3); cell < end; cell = html.find("<t", cell + 1)) {
      if (html[cell + 2] != 'd' && html[cell + 2] != 'h') continue;
      const auto open = html.find('>', cell) + 1;
      cells.push_back(TextOf(html.substr(open, html.find("</t", open) - open)));
    }
  }
  return rows;
}

const Cells& RowNamed(const std::vector<Cells>& rows, const std::string& first) {
  for (const Cells& row : rows) {
    if (!row.empty() && row[0] == first) return row;
  }
  static const Cells none;
  ADD_FAILURE() << "no table row for " << first;
  return none;
}

// "12 40.0%": the count before its share.
std::int64_t CountIn(const std::string& cell) { return cell.empty() ? -1 : std::stoll(cell); }

// The number on a card: <span class="n">N</span><span class="l">label
std::int64_t CardNumber(const std::string& html, const std::string& label) {
  const std::string tail = "</span><span class=\"l\">" + label + " ";
  const auto at = html.find(tail);
  if (at == std::string::npos) return -1;
  const auto from = html.rfind('>', at) + 1;
  return std::stoll(html.substr(from, at - from));
}

// What the store holds, tallied here from its raw events for one product.
struct Tally {
  std::map<std::string, std::int64_t> main;                           // type -> count
  std::map<std::string, std::map<std::string, std::int64_t>> offers;  // code -> type -> count
  std::map<std::string, std::int64_t> reasons, failures, windows;
  std::int64_t stuckRuns = 0;
};

Tally TallyOf(const std::vector<StoredEvent>& events) {
  std::map<std::string, std::string> runProduct;
  auto run = [](const json& f) { return f["1"].get<std::string>() + "|" + f["2"].get<std::string>(); };
  for (const StoredEvent& e : events) {
    if (e.fields["22"] != "") runProduct[run(e.fields)] = e.fields["22"].get<std::string>();
  }
  Tally tally;
  for (const StoredEvent& e : events) {
    const json& f = e.fields;
    const std::string type = f["6"].get<std::string>();
    if (!runProduct.count(run(f))) {
      ++tally.stuckRuns;
      continue;
    }
    if (f["10"] == 1) ++tally.main[type];
    if (f["10"] == 2) ++tally.offers[f["5"].get<std::string>()][type];
    if (type == "1") ++tally.windows[f["31"].get<std::string>()];
    if (type == "2") ++tally.reasons[f["13"].get<std::string>()];
    if (type == "-1") ++tally.failures[f["12"].get<std::string>()];
  }
  return tally;
}

class ReportHtmlTest : public ::testing::Test {
 protected:
  void Add(const json& event) {
    store_.AddEvent(Store::NowUtc(), "zb_analytics", testing::EventEnvelope(event), event);
  }

  // Download wizard runs of one product, every ninth never past its start.
  void AddRuns(int runs) {
    const std::string windows[] = {"10.0.19045", "6.1.7601", "10.0.22631"};
    const std::string reasons[] = {"not enough disk space", "already installed", "process running"};
    const std::string offerTypes[] = {"2", "4", "3", "-1", "5"};
    const std::string mainOutcomes[] = {"3", "-1", "5"};
    std::mt19937 random(7);
    auto failure = [&random] { return json{{"12", "error " + std::to_string(random() % 13)}}; };
    for (int run = 1; run <= runs; ++run) {
      Add(RunEvent(run, "", 1, "", "1", {{"31", windows[random() % 3]}}));
      if (run % 9 == 0) continue;
      const std::string outcome = mainOutcomes[random() % 3];
      Add(RunEvent(run, kProduct, 1, "", outcome, outcome == "-1" ? failure() : json::object()));
      for (const std::string offer : {"OFR-1", "OFR-2", "OFR-3"}) {
        const std::string type = offerTypes[random() % 5];
        json extra = type == "2" ? json{{"13", reasons[random() % 3]}} : type == "-1" ? failure() : json::object();
        Add(RunEvent(run, kProduct, 2, offer, type, extra));
      }
    }
  }

  std::string Page() { return ReportHtml(BuildReport(store_)); }

  static constexpr const char* kProduct = "Kelvanor Pro";
  TempDir dir_;
  Store store_{Store::FileIn(dir_.path())};
};

TEST_F(ReportHtmlTest, NumbersOnThePageAreTheStoresCounts) {
  AddRuns(90);
  const Tally tally = TallyOf(store_.Events());
  const std::string page = Page();
  const auto rows = TableRows(page);

  const std::pair<const char*, const char*> cards[] = {
      {"starts", "1"}, {"completed", "3"}, {"failed", "-1"}, {"closed", "5"}};
  for (const auto& [label, type] : cards) {
    EXPECT_EQ(CardNumber(page, label), tally.main.count(type) ? tally.main.at(type) : 0) << label;
  }
  EXPECT_NE(page.find("<strong>" + std::to_string(tally.stuckRuns) + "</strong> run(s) never got further"),
            std::string::npos);

  for (const auto& [code, types] : tally.offers) {
    auto n = [&types](const char* type) { return types.count(type) ? types.at(type) : 0; };
    const std::int64_t met = n("2") + n("4") + n("3") + n("-1") + n("5");
    // met, eligible, accepted, installed, rejected, declined, failed, closed
    const std::vector<std::int64_t> expected = {met,    met - n("2"), n("3") + n("-1"), n("3"),
                                                n("2"), n("4"),       n("-1"),          n("5")};
    const Cells& row = RowNamed(rows, code);
    ASSERT_EQ(row.size(), 10u) << code;
    std::vector<std::int64_t> shown;
    for (std::size_t i = 2; i < row.size(); ++i) shown.push_back(CountIn(row[i]));
    EXPECT_EQ(shown, expected) << code;
  }

  std::int64_t rejections = 0;
  for (const auto& [reason, count] : tally.reasons) rejections += count;
  for (const auto& [reason, count] : tally.reasons) {
    const Cells& row = RowNamed(rows, reason);
    ASSERT_EQ(row.size(), 3u);
    char share[32];
    std::snprintf(share, sizeof share, "%lld %.1f%%", static_cast<long long>(count), 100.0 * count / rejections);
    EXPECT_EQ(row[2], share) << reason;
  }
  for (const auto& [version, count] : tally.windows) EXPECT_EQ(CountIn(RowNamed(rows, version)[2]), count);

  // The ten most frequent failure texts, largest first, none left out that has more.
  std::vector<std::int64_t> shownFailures;
  for (const Cells& row : rows) {
    if (row.size() == 3 && row[0].rfind("error ", 0) == 0) {
      EXPECT_EQ(CountIn(row[2]), tally.failures.at(row[0])) << row[0];
      shownFailures.push_back(CountIn(row[2]));
    }
  }
  ASSERT_EQ(shownFailures.size(), 10u);
  EXPECT_TRUE(std::is_sorted(shownFailures.rbegin(), shownFailures.rend()));
  for (const auto& [text, count] : tally.failures) {
    if (std::none_of(rows.begin(), rows.end(), [&](const Cells& r) { return r[0] == text; })) {
      EXPECT_LE(count, shownFailures.back()) << text;
    }
  }

  std::int64_t perHour = 0;
  for (const Cells& row : rows) {
    if (row.size() == 2 && row[0].size() == 13 && row[0][10] == 'T') perHour += CountIn(row[1]);
  }
  EXPECT_EQ(perHour, store_.EventCount());
}

TEST_F(ReportHtmlTest, TextsFromTheWireShowAsText) {
  const std::string hostile[] = {"<script>alert(1)</script>", "<img src=x onerror=alert(2)>",
                                 "\"><svg onload=alert(3)>", "</title><b>bold</b>", "&lt;kept&gt; & 'quoted'"};
  // One text in each place a text from the wire appears: product, offer code, reason, failure, Windows version.
  int run = 0;
  for (const std::string& text : hostile) {
    ++run;
    Add(RunEvent(run, text, 1, "", "1", {{"31", text}}));
    Add(RunEvent(run, text, 2, text, "2", {{"13", text}}));
    Add(RunEvent(run, text, 1, "", "-1", {{"12", text}}));
  }
  const std::string page = Page();
  // "&lt;kept" is what a text already holding an entity would show if its & went out unescaped.
  for (const char* markup : {"<script", "<img", "<svg onload", "<b>", "&lt;kept"}) {
    EXPECT_EQ(page.find(markup), std::string::npos) << markup;
  }
  const auto rows = TableRows(page);
  for (const std::string& text : hostile) {
    // Reason, failure and Windows version rows, plus the offer's own row, each read back as the very text.
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [&](const Cells& r) { return !r.empty() && r[0] == text; }), 4)
        << text;
    EXPECT_NE(page.find("<h3>" + HtmlEscape(text) + "</h3>"), std::string::npos) << text;
  }
  // Bytes that are not UTF-8 become U+FFFD instead of breaking the page's encoding.
  EXPECT_EQ(HtmlEscape(std::string("a\xff\xfe"
                                   "b\0c",
                                   6)),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b\xEF\xBF\xBD"
            "c");
}

TEST_F(ReportHtmlTest, AnEmptyStoreSaysSo) {
  const std::string page = Page();
  EXPECT_NE(page.find("No events are stored yet"), std::string::npos);
  EXPECT_EQ(page.find("<table"), std::string::npos);
  EXPECT_EQ(page.find("<section"), std::string::npos);
}

// The page's own parts only: nothing loaded from anywhere, nothing run.
TEST_F(ReportHtmlTest, PageIsSelfContained) {
  AddRuns(20);
  const std::string page = Page();
  for (const char* outside : {"<script", "<link", "<img", "<iframe", "<object", "src=", "href=", "url(", "@import"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
}

// Runs headless Chromium (as root it needs --no-sandbox); the output of the command,
// or nullopt when it did not run. Chromium's own switch for scripts also stops
// --dump-dom, so the page's policy is what keeps them off (checked below).
std::optional<std::string> Chromium(const TempDir& profile, const std::string& arguments) {
  const std::string command =
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "
      "--user-data-dir='" +
      profile.path().string() + "/profile' " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[65536];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

TEST_F(ReportHtmlTest, BrowserShowsTheSameTablesAndKeepsScreenshots) {
  AddRuns(90);
  Add(RunEvent(1, kProduct, 2, "OFR-9", "2", {{"13", "<script>alert(1)</script>"}}));
  const std::string page = Page();
  const auto file = dir_.path() / "report.html";
  // The same page with a script that would empty it, had it run.
  const auto planted = dir_.path() / "planted.html";
  testing::WriteFile(file, page);
  testing::WriteFile(planted, page.substr(0, page.rfind("</body>")) +
                                  "<script>document.body.textContent = 'script ran'</script></body></html>");

  auto dom = Chromium(dir_, "--dump-dom 'file://" + file.string() + "'");
  ASSERT_TRUE(dom) << "chromium could not start or render the page; tools/setup-deps.sh installs it";
  const auto rows = TableRows(*dom);
  EXPECT_GT(rows.size(), 20u);
  EXPECT_EQ(rows, TableRows(page));
  EXPECT_EQ(RowNamed(rows, "<script>alert(1)</script>").size(), 3u);
  EXPECT_EQ(dom->find("<script"), std::string::npos);
  auto plantedDom = Chromium(dir_, "--dump-dom 'file://" + planted.string() + "'");
  ASSERT_TRUE(plantedDom);
  EXPECT_EQ(TableRows(*plantedDom), rows);

  // The wide one and the one a phone shows, for people to look at.
  for (const auto& [name, size] :
       {std::pair{"report-screenshot.png", "1280,3000"}, std::pair{"report-screenshot-phone.png", "390,3000"}}) {
    const std::string shot = std::string(OSTREL_TEST_OUTPUT_DIR) + "/" + name;
    std::remove(shot.c_str());
    ASSERT_TRUE(Chromium(
        dir_, std::string("--window-size=") + size + " --screenshot='" + shot + "' 'file://" + file.string() + "'"))
        << name;
    const std::string png = testing::ReadFile(shot);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << shot;
    EXPECT_GT(png.size(), 20000u) << shot;
  }
}

}  // namespace
}  // namespace ostrel
