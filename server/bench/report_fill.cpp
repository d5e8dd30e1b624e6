// Fills a data folder's store with wizard runs as they reach the analytics
// endpoint, for bench/report.sh: every event with all the fields the wizard
// sends, written through the store's own insert path. A run is a start, its main
// product's end and the ends of its offers; one run in ten never gets further
// than its start, one in five is the installer wizard's. The events are spread
// over a week.
//
//   ostrel-report-fill --data DIR --events 1000000
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "store.h"

namespace {

using nlohmann::json;

constexpr int kWriters = 48;                // the store commits what queues up meanwhile in one transaction
constexpr std::time_t kStart = 1796083200;  // 2026-12-01T00:00:00Z
constexpr std::time_t kPeriod = 7 * 24 * 3600;

const char* const kProducts[] = {"Kelvanor Pro", "Kelvanor Photo", "Ostrel Notes", "Brightfile"};
const char* const kWindows[] = {"10.0.19045", "10.0.22631", "10.0.26100", "6.1.7601", "6.3.9600", "10.0.17763"};
const char* const kReasons[] = {"not enough disk space",       "already installed",       "process running",
                                "unsupported Windows version", "no administrator rights", "country not served"};
const char* const kEndTypes[] = {"2", "4", "3", "-1", "5"};

std::string Failure(std::mt19937& random) {
  static const char* const kTexts[] = {"Failed to download the file: WinHTTP error ",
                                       "The installer did not start: error ", "The installer ended with exit code ",
                                       "Failed to verify the download: SHA-256 differs, code "};
  return kTexts[random() % 4] + std::to_string(random() % 12);
}

std::string ReceivedAt(long long index, long long total) {
  const std::time_t at = kStart + static_cast<std::time_t>(kPeriod * (index / static_cast<double>(total)));
  std::tm tm{};
  gmtime_r(&at, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &tm);
  return text;
}

json Event(long long run, const std::string& product, int kind, const std::string& offer, const std::string& type,
           const std::string& windows) {
  json event = json::object();
  for (int i = 0; i <= 22; ++i) event[std::to_string(i)] = "";
  char machine[64];
  std::snprintf(machine, sizeof machine, "{4C4C4544-0042-3510-8052-%012llX}", run);
  event["1"] = machine;
  event["2"] = "202612" + std::to_string(10000000 + run % 1000000);
  event["3"] = "Kelvanor";
  event["4"] = "Kelvanor_DLM";
  event["5"] = kind == 1 ? product : offer;
  event["6"] = type;
  event["7"] = "1.0.0.0";
  event["10"] = kind;
  event["15"] = 0;
  event["22"] = product;
  event["31"] = windows;
  event["38"] = "1";
  if (kind == 2) {
    event["16"] = "ch1";
    event["17"] = offer.substr(offer.size() - 1);
    event["18"] = "tag";
  }
  return event;
}

// The events of one run, in the order the wizard sends them.
std::vector<json> Run(long long run, std::mt19937& random) {
  const std::string product = kProducts[random() % std::size(kProducts)];
  const std::string windows = kWindows[random() % std::size(kWindows)];
  const bool installer = random() % 5 == 0;
  std::vector<json> events{Event(run, installer ? product : "", 1, "", "1", windows)};
  if (!installer && random() % 10 == 0) return events;
  const char* const mainEnds[] = {"3", "3", "3", "-1", "5"};
  json main = Event(run, product, 1, "", mainEnds[random() % 5], windows);
  if (main["6"] == "-1") main["12"] = Failure(random);
  events.push_back(main);
  const int offers = 2 + static_cast<int>(random() % 4);
  for (int i = 0; i < offers; ++i) {
    const std::string code = "OFR-" + std::to_string(1 + (run + i) % 12);
    json offer = Event(run, product, 2, code, kEndTypes[random() % std::size(kEndTypes)], windows);
    if (offer["6"] == "2") offer["13"] = kReasons[random() % std::size(kReasons)];
    if (offer["6"] == "-1") offer["12"] = Failure(random);
    events.push_back(offer);
  }
  return events;
}

}  // namespace

int main(int argc, char** argv) {
  std::string data;
  long long total = 1000000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--data") data = argv[i + 1];
    if (option == "--events") total = std::atoll(argv[i + 1]);
  }
  if (data.empty() || total <= 0) {
    std::fprintf(stderr, "usage: ostrel-report-fill --data DIR --events N\n");
    return 2;
  }
  ostrel::Store store(ostrel::Store::FileIn(data));
  std::atomic<long long> nextRun{0}, written{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      std::mt19937 random(static_cast<unsigned>(w) * 7919u + 1u);
      for (;;) {
        const long long run = nextRun++;
        std::vector<json> events = Run(run, random);
        const long long at = written.fetch_add(static_cast<long long>(events.size()));
        if (at >= total) return;
        for (std::size_t i = 0; i < events.size() && at + static_cast<long long>(i) < total; ++i) {
          const std::string body = json{{"data", events[i].dump()}, {"table", "zb_analytics"}}.dump();
          store.AddEvent(ReceivedAt(at + static_cast<long long>(i), total), "zb_analytics", body, events[i]);
        }
      }
    });
  }
  for (auto& writer : writers) writer.join();
  std::printf("stored %lld\n", static_cast<long long>(store.EventCount()));
  return 0;
}
