#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "store_engine.h"

namespace ostrel {

// Everything the server records: by default one SQLite file, DATA/ostrel.db, so that a
// test, the report command and a person with the sqlite3 shell all see the same data;
// or a PostgreSQL database that several servers share.
//
// Writes go through one writer thread that commits whatever has queued up in one
// transaction: under load many events share a commit (and its sync to disk)
// instead of each paying for its own. Every read sees all writes queued before it.
// Any thread may call any method.
class Store {
 public:
  enum class Mode { ReadWrite, ReadOnly };

  // SQLite at file. Throws std::runtime_error when it cannot be opened.
  explicit Store(const std::filesystem::path& file, Mode mode = Mode::ReadWrite);
  // postgres: a libpq connection string, else SQLite in dataDir. Throws std::runtime_error.
  static std::unique_ptr<Store> Open(const std::optional<std::string>& postgres, const std::filesystem::path& dataDir,
                                     Mode mode = Mode::ReadWrite);
  Store(std::unique_ptr<StoreEngine> engine, Mode mode);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  static std::filesystem::path FileIn(const std::filesystem::path& dataDir);
  static std::string NowUtc();

  // Only the newest requests are kept; older ones give way as new ones come.
  static constexpr std::size_t kMaxRecordedRequests = 10000;

  // Queued; written with the next batch. A failure is logged, not reported.
  void RecordRequest(RequestRecord record);
  std::vector<RequestRecord> Requests(const std::optional<std::string>& path) const;

  // data: the decoded event object; each member becomes its own row of event_fields.
  // Returns the event's id once it is committed; throws when it could not be
  // (StoreUnavailable while the database is out of reach).
  std::int64_t AddEvent(const std::string& receivedAt, const std::string& table, const std::string& rawBody,
                        const nlohmann::json& data);
  std::vector<StoredEvent> Events() const;
  std::int64_t EventCount() const;

  // Rows of one read-only statement, written so that SQLite 3 and PostgreSQL 15 both
  // take it, with "?" for each of params; every column as text, NULL as nullopt
  // (numbers come back as their decimal text). Besides event_fields, events has a
  // column of its own for each field the report groups by: run_machine ("1"),
  // run_session ("2"), product ("22"), package_kind ("10"), offer_code ("5"),
  // event_type ("6"), reason ("13"), failure_text ("12") and windows ("31"), ''
  // when the event lacks it. Throws std::runtime_error when the query is not valid SQL.
  SelectRows Select(const std::string& sql, const std::vector<std::string>& params = {}) const;

  void Clear();

 private:
  struct PendingEvent {
    NewEvent event;
    std::promise<std::int64_t> stored;
  };
  using Write = std::variant<RequestRecord, PendingEvent>;

  std::uint64_t Enqueue(Write write);
  // Waits until every write queued so far is committed (or failed).
  void Flush() const;
  void WriteLoop();
  void WriteBatch(std::vector<Write>& batch);

  std::unique_ptr<StoreEngine> engine_;
  mutable std::mutex mutex_;  // the engine

  mutable std::mutex queueMutex_;
  mutable std::condition_variable queueChanged_;
  std::vector<Write> queue_;
  std::uint64_t queued_ = 0;     // writes ever queued
  std::uint64_t committed_ = 0;  // writes ever finished
  bool stopping_ = false;
  std::thread writer_;
};

}  // namespace ostrel
