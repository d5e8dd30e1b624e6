#include "report_html.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

namespace ostrel {

namespace {

// Printers drop backgrounds by default; bars are SVG shapes so they print as drawn.
constexpr const char* kStyle = R"css(
:root { color-scheme: light dark; --ink: #1d2330; --soft: #5b6475; --line: #d9dee8; --card: #f5f7fb;
  --bar: #3867d6; --accepted: #20a36b; --installed: #0b7a4b; --bad: #c0392b; --page: #fff; }
@media (prefers-color-scheme: dark) { :root { --ink: #e8ebf2; --soft: #a7b0c2; --line: #3a4152; --card: #232838;
  --page: #171b26; --bar: #6f95f0; --accepted: #3cc68a; --installed: #8fe3b9; --bad: #f07a6b; } }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 72rem; padding: 1rem; font: 15px/1.45 system-ui, -apple-system, "Segoe UI",
  Roboto, "Helvetica Neue", Arial, sans-serif; color: var(--ink); background: var(--page); }
h1 { font-size: 1.6rem; margin: 0 0 .25rem; } h2 { font-size: 1.35rem; margin: 2rem 0 .5rem; }
h3 { font-size: 1.15rem; margin: 1.5rem 0 .5rem; border-bottom: 2px solid var(--line); padding-bottom: .25rem; }
h4 { font-size: 1rem; margin: 1.25rem 0 .4rem; color: var(--soft); }
.meta, .note { color: var(--soft); margin: 0 0 1rem; }
.cards { display: flex; flex-wrap: wrap; gap: .6rem; margin: .5rem 0 1rem; padding: 0; list-style: none; }
.cards li { background: var(--card); border-radius: .5rem; padding: .5rem .8rem; min-width: 8.5rem; }
.cards .n { display: block; font-size: 1.5rem; font-weight: 650; font-variant-numeric: tabular-nums; }
.cards .l { color: var(--soft); font-size: .85rem; }
.scroll { overflow-x: auto; }
table { border-collapse: collapse; width: 100%; font-variant-numeric: tabular-nums; margin-bottom: .5rem; }
th, td { text-align: left; padding: .3rem .5rem; border-bottom: 1px solid var(--line); vertical-align: middle; }
td.n, th.n { text-align: right; white-space: nowrap; }
td.bar { width: 35%; min-width: 7rem; }
td.text { word-break: break-word; } td.name { white-space: nowrap; }
.share { color: var(--soft); font-size: .85em; }
svg.bars { display: block; width: 100%; height: 1.1rem; }
svg.funnel { display: block; width: 100%; height: 2.1rem; }
svg.time { display: block; width: 100%; height: 10rem; border-bottom: 1px solid var(--line); }
rect.value, rect.eligible { fill: var(--bar); } rect.accepted { fill: var(--accepted); }
rect.installed { fill: var(--installed); } rect.track { fill: var(--card); } .bad rect.value { fill: var(--bad); }
.axis { display: flex; justify-content: space-between; color: var(--soft); font-size: .8rem; }
.numbers { max-height: 16rem; overflow-y: auto; }
.legend span { margin-right: 1rem; } .legend i { display: inline-block; width: .8rem; height: .8rem;
  border-radius: .15rem; margin-right: .3rem; vertical-align: -.1rem; }
.empty { font-size: 1.2rem; background: var(--card); padding: 1rem; border-radius: .5rem; }
@media (max-width: 40rem) { body { padding: .5rem; font-size: 14px; } td.bar { min-width: 5rem; }
  th, td { padding: .25rem .3rem; } }
@media print { body { max-width: none; color: #000; background: #fff; } .numbers { max-height: none; overflow: visible; }
  section, article { break-inside: avoid-page; } h2, h3 { break-after: avoid; } }
)css";

std::string ValidUtf8(const std::string& text) {
  // The JSON writer's replacement turns every byte that is not UTF-8 into U+FFFD.
  return nlohmann::json::parse(nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
      .get<std::string>();
}

std::string Share(std::int64_t count, std::int64_t total) {
  if (total <= 0) return "–";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(count) / static_cast<double>(total));
  return text;
}

// A count and its share of total, as one table cell.
std::string CountCell(std::int64_t count, std::int64_t total) {
  return "<td class=\"n\">" + std::to_string(count) + " <span class=\"share\">" + Share(count, total) + "</span></td>";
}

std::string Percent(std::int64_t count, std::int64_t max) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", max > 0 ? 100.0 * static_cast<double>(count) / static_cast<double>(max) : 0);
  return text;
}

// A horizontal bar scaled to max, drawn in a 100-wide box.
std::string BarCell(std::int64_t count, std::int64_t max, const char* kind = "") {
  return std::string("<td class=\"bar ") + kind +
         "\"><svg class=\"bars\" viewBox=\"0 0 100 10\" preserveAspectRatio=\"none\" aria-hidden=\"true\">"
         "<rect class=\"track\" width=\"100\" height=\"10\"/><rect class=\"value\" width=\"" +
         Percent(count, max) + "\" height=\"10\"/></svg></td>";
}

std::int64_t MaxOf(const std::vector<TextCount>& list) {
  std::int64_t max = 0;
  for (const TextCount& item : list) max = std::max(max, item.count);
  return max;
}

std::int64_t SumOf(const std::vector<TextCount>& list) {
  std::int64_t sum = 0;
  for (const TextCount& item : list) sum += item.count;
  return sum;
}

// Rows of text, bar, count and share, largest first; limit 0 shows them all.
std::string BarTable(const std::vector<TextCount>& list, const char* textHeading, std::size_t limit = 0,
                     const char* kind = "") {
  const std::int64_t total = SumOf(list), max = MaxOf(list);
  std::ostringstream out;
  out << "<div class=\"scroll\"><table><thead><tr><th>" << textHeading
      << "</th><th aria-hidden=\"true\"></th><th class=\"n\">count <span class=\"share\">share</span></th></tr>"
         "</thead><tbody>";
  const std::size_t shown = limit == 0 ? list.size() : std::min(limit, list.size());
  for (std::size_t i = 0; i < shown; ++i) {
    out << "<tr><td class=\"text\">" << HtmlEscape(list[i].text.empty() ? "(empty)" : list[i].text) << "</td>"
        << BarCell(list[i].count, max, kind) << CountCell(list[i].count, total) << "</tr>";
  }
  out << "</tbody></table></div>";
  if (shown < list.size()) {
    std::int64_t rest = 0;
    for (std::size_t i = shown; i < list.size(); ++i) rest += list[i].count;
    out << "<p class=\"note\">" << list.size() - shown << " more text(s), " << rest << " event(s) together.</p>";
  }
  return out.str();
}

// Texts of every package of the product added up, largest first.
std::vector<TextCount> Merged(const ProductReport& product, std::vector<TextCount> PackageReport::*texts) {
  std::map<std::string, std::int64_t> byText;
  for (const PackageReport& package : product.packages) {
    for (const TextCount& text : package.*texts) byText[text.text] += text.count;
  }
  std::vector<TextCount> merged;
  for (const auto& [text, count] : byText) merged.push_back({text, count});
  std::stable_sort(merged.begin(), merged.end(),
                   [](const TextCount& a, const TextCount& b) { return a.count > b.count; });
  return merged;
}

std::string Card(std::int64_t count, const std::string& label, std::int64_t total) {
  return "<li><span class=\"n\">" + std::to_string(count) + "</span><span class=\"l\">" + label + " · " +
         Share(count, total) + " of starts</span></li>";
}

std::string MainProduct(const PackageReport& main) {
  const std::int64_t starts = main.Count("started");
  return "<ul class=\"cards\" aria-label=\"main product\">" + Card(starts, "starts", starts) +
         Card(main.Count("done"), "completed", starts) + Card(main.Count("failed"), "failed", starts) +
         Card(main.Count("closed"), "closed", starts) + "</ul>";
}

// Eligible, accepted and installed as nested bars over the runs that met the offer.
std::string FunnelCell(std::int64_t eligible, std::int64_t accepted, std::int64_t installed, std::int64_t met) {
  auto bar = [met](const char* kind, std::int64_t count, int y) {
    return std::string("<rect class=\"track\" y=\"") + std::to_string(y) +
           "\" width=\"100\" height=\"6\"/><rect class=\"" + kind + "\" y=\"" + std::to_string(y) + "\" width=\"" +
           Percent(count, met) + "\" height=\"6\"/>";
  };
  return "<td class=\"bar\"><svg class=\"funnel\" viewBox=\"0 0 100 20\" preserveAspectRatio=\"none\" "
         "aria-hidden=\"true\">" +
         bar("eligible", eligible, 0) + bar("accepted", accepted, 7) + bar("installed", installed, 14) + "</svg></td>";
}

// The runs that met an offer end it in one of these: the wizard sends one final event per package.
std::string OfferTable(const std::vector<const PackageReport*>& offers) {
  std::ostringstream out;
  out << "<p class=\"legend\"><span><i style=\"background:var(--bar)\"></i>eligible</span>"
         "<span><i style=\"background:var(--accepted)\"></i>accepted</span>"
         "<span><i style=\"background:var(--installed)\"></i>installed</span> · shares of the runs that met the "
         "offer</p><div class=\"scroll\"><table><thead><tr><th>offer</th><th aria-hidden=\"true\">funnel</th>"
         "<th class=\"n\">met</th><th class=\"n\">eligible</th><th class=\"n\">accepted</th>"
         "<th class=\"n\">installed</th><th class=\"n\">rejected</th><th class=\"n\">declined</th>"
         "<th class=\"n\">failed</th><th class=\"n\">closed</th></tr></thead><tbody>";
  for (const PackageReport* offer : offers) {
    const std::int64_t rejected = offer->Count("rejected"), declined = offer->Count("declined"),
                       done = offer->Count("done"), failed = offer->Count("failed"), closed = offer->Count("closed");
    const std::int64_t met = rejected + declined + done + failed + closed;
    const std::int64_t eligible = met - rejected, accepted = done + failed;
    out << "<tr><td class=\"text name\">" << HtmlEscape(offer->offer.empty() ? "(no code)" : offer->offer)
        << (offer->kind == "offer" ? "" : " <span class=\"share\">" + HtmlEscape(offer->kind) + "</span>") << "</td>"
        << FunnelCell(eligible, accepted, done, met) << "<td class=\"n\">" << met << "</td>" << CountCell(eligible, met)
        << CountCell(accepted, met) << CountCell(done, met) << CountCell(rejected, met) << CountCell(declined, met)
        << CountCell(failed, met) << CountCell(closed, met) << "</tr>";
  }
  out << "</tbody></table></div>";
  return out.str();
}

std::string ProductSection(const ProductReport& product) {
  std::ostringstream out;
  out << "<article class=\"product\"><h3>" << HtmlEscape(product.product) << "</h3>";
  std::vector<const PackageReport*> offers;
  for (const PackageReport& package : product.packages) {
    if (package.kind == "main") {
      out << "<h4>Main product</h4>" << MainProduct(package);
    } else {
      offers.push_back(&package);
    }
  }
  if (!offers.empty()) out << "<h4>Offers</h4>" << OfferTable(offers);
  const auto reasons = Merged(product, &PackageReport::reasons);
  if (!reasons.empty()) out << "<h4>Rejection reasons</h4>" << BarTable(reasons, "reason");
  const auto failures = Merged(product, &PackageReport::failures);
  if (!failures.empty()) out << "<h4>Most frequent failures</h4>" << BarTable(failures, "failure text", 10, "bad");
  if (!product.startsByWindows.empty()) {
    out << "<h4>Starts by Windows version</h4>" << BarTable(product.startsByWindows, "Windows version");
  }
  out << "</article>";
  return out.str();
}

std::string WizardTitle(const std::string& wizard) {
  return wizard == "installer" ? "Installer wizard" : "Download wizard";
}

std::int64_t StartsOf(const std::vector<const ProductReport*>& products) {
  std::int64_t starts = 0;
  for (const ProductReport* product : products) {
    for (const PackageReport& package : product->packages) {
      if (package.kind == "main") starts += package.Count("started");
    }
  }
  return starts;
}

std::string WizardSection(const std::string& wizard, const std::vector<const ProductReport*>& products) {
  std::ostringstream out;
  out << "<section class=\"wizard\"><h2>" << WizardTitle(wizard) << "</h2>";
  const std::int64_t starts = StartsOf(products);
  for (const ProductReport* product : products) {
    if (!product->product.empty()) continue;
    std::int64_t stuck = 0;
    for (const PackageReport& package : product->packages) stuck += package.Count("started");
    out << "<p class=\"runs\"><strong>" << stuck << "</strong> run(s) never got further than the start ("
        << Share(stuck, starts) << " of the wizard's " << starts << " starts).</p>";
  }
  for (const ProductReport* product : products) {
    if (!product->product.empty()) out << ProductSection(*product);
  }
  out << "</section>";
  return out.str();
}

std::string TimeChart(const Report& report) {
  const auto& slots = report.eventsOverTime;
  const std::int64_t max = MaxOf(slots);
  std::ostringstream out;
  out << "<section class=\"time\"><h2>Events per " << (report.perDay ? "day" : "hour")
      << " (UTC)</h2><p class=\"meta\">Busiest " << (report.perDay ? "day" : "hour") << ": " << max
      << " events.</p><svg class=\"time\" viewBox=\"0 0 " << slots.size() * 10
      << " 100\" preserveAspectRatio=\"none\" role=\"img\" aria-label=\"events over time; the numbers are in the "
         "table below\">";
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const double height = max > 0 ? 100.0 * static_cast<double>(slots[i].count) / static_cast<double>(max) : 0;
    char rect[160];
    std::snprintf(rect, sizeof rect, "<rect class=\"eligible\" x=\"%zu\" y=\"%.2f\" width=\"8\" height=\"%.2f\"/>",
                  i * 10 + 1, 100 - height, height);
    out << rect;
  }
  out << "</svg><div class=\"axis\"><span>" << HtmlEscape(slots.front().text) << "</span><span>"
      << HtmlEscape(slots.back().text) << "</span></div><div class=\"numbers scroll\"><table><thead><tr><th>"
      << (report.perDay ? "day" : "hour") << "</th><th class=\"n\">events <span class=\"share\">share</span></th>"
      << "</tr></thead><tbody>";
  for (const TextCount& slot : slots) {
    out << "<tr><td>" << HtmlEscape(slot.text) << "</td>" << CountCell(slot.count, report.events) << "</tr>";
  }
  out << "</tbody></table></div></section>";
  return out.str();
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : ValidUtf8(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\0':
        out += "\xEF\xBF\xBD";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ReportHtml(const Report& report) {
  std::ostringstream out;
  out << "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         // Nothing to load and nothing to run: a script that got in anyway stays dead.
         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">"
         "<title>Ostrel report</title><style>"
      << kStyle << "</style></head><body><header><h1>What happened to each product and offer</h1><p class=\"meta\">"
      << report.events << " event(s)";
  if (report.events > 0) {
    out << " received from " << HtmlEscape(report.firstReceived) << " to " << HtmlEscape(report.lastReceived);
  }
  out << ". The wizard's events carry no language, so starts are shown by Windows version only.</p></header><main>";
  if (report.events == 0) {
    out << "<p class=\"empty\">No events are stored yet: nothing to report.</p></main></body></html>\n";
    return out.str();
  }
  std::vector<std::pair<std::string, std::vector<const ProductReport*>>> wizards;
  for (const ProductReport& product : report.products) {
    if (wizards.empty() || wizards.back().first != product.wizard) wizards.push_back({product.wizard, {}});
    wizards.back().second.push_back(&product);
  }
  for (const auto& [wizard, products] : wizards) out << WizardSection(wizard, products);
  out << TimeChart(report) << "</main></body></html>\n";
  return out.str();
}

}  // namespace ostrel
