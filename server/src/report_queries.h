#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store.h"

namespace ostrel {

// The report's numbers, counted by the store itself: every query groups and counts
// in SQL that SQLite 3 and PostgreSQL 15 both run unchanged, so the report reads a
// few hundred rows however many events the store holds.
//
// A run is one wizard session: all its events carry the same fields "1" and "2".
// Its start is sent before the configuration is known, so the download wizard's
// start names no product; every event of a run is counted under the product its
// events name ('' for a run that never got further than its start). The
// installer wizard knows its product from the start on, so a run whose start
// names a product is the installer wizard's; every other run (also one whose start
// was not stored) is the download wizard's.
//
// Any thread may call these; they throw std::runtime_error when the store fails.

// One group and its number of events; keys in the order the query names them.
struct CountRow {
  std::vector<std::string> keys;
  std::int64_t count = 0;
};

struct ReportCounts {
  std::int64_t events = 0;
  std::string firstReceived, lastReceived;  // ISO 8601, empty for an empty store
  std::vector<CountRow> packageEvents;      // wizard, product, kind, offer ('' for the main product), type
  std::vector<CountRow> eventTexts;         // wizard, product, kind, offer, type, reason or failure text
  std::vector<CountRow> startsByWindows;    // wizard, product, Windows version ("31")
  std::vector<CountRow> eventsPerHour;      // "YYYY-MM-DDTHH" of received_at
};

ReportCounts CountReport(const Store& store);

}  // namespace ostrel
