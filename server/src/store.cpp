#include "store.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include <sqlite3.h>

namespace ostrel {

namespace {

using nlohmann::json;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS requests (
  id          INTEGER PRIMARY KEY AUTOINCREMENT,
  received_at TEXT    NOT NULL,
  listener    TEXT    NOT NULL,
  method      TEXT    NOT NULL,
  path        TEXT    NOT NULL,
  headers     TEXT    NOT NULL,
  body        BLOB    NOT NULL,
  status      INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS requests_by_path ON requests(path, id);
-- The fields the report groups by are kept beside the event as well (kEventColumns):
-- pivoting them out of event_fields takes seconds per query once a store holds a
-- million events.
CREATE TABLE IF NOT EXISTS events (
  id           INTEGER PRIMARY KEY AUTOINCREMENT,
  received_at  TEXT NOT NULL,
  table_name   TEXT NOT NULL,
  raw_body     BLOB NOT NULL,
  run_machine  TEXT NOT NULL DEFAULT '',
  run_session  TEXT NOT NULL DEFAULT '',
  product      TEXT NOT NULL DEFAULT '',
  package_kind TEXT NOT NULL DEFAULT '',
  offer_code   TEXT NOT NULL DEFAULT '',
  event_type   TEXT NOT NULL DEFAULT '',
  reason       TEXT NOT NULL DEFAULT '',
  failure_text TEXT NOT NULL DEFAULT '',
  windows      TEXT NOT NULL DEFAULT ''
);
-- value_json keeps the field's JSON type (fields 10 and 15 are numbers, the rest
-- strings); value is the plain text for people reading the table with sqlite3.
CREATE TABLE IF NOT EXISTS event_fields (
  event_id    INTEGER NOT NULL REFERENCES events(id) ON DELETE CASCADE,
  field       TEXT    NOT NULL,
  value       TEXT    NOT NULL,
  value_json  TEXT    NOT NULL,
  PRIMARY KEY (event_id, field)
);
)sql";

// Each event_fields field the report groups by, with its column in events; the
// plain text of the field, '' when the event has none.
struct EventColumn {
  const char* name;
  const char* field;
};
constexpr EventColumn kEventColumns[] = {
    {"run_machine", "1"}, {"run_session", "2"}, {"product", "22"},      {"package_kind", "10"}, {"offer_code", "5"},
    {"event_type", "6"},  {"reason", "13"},     {"failure_text", "12"}, {"windows", "31"},
};

// After the columns exist: a store from before them gains them first.
constexpr const char* kEventIndexes = R"sql(
CREATE INDEX IF NOT EXISTS events_by_run
  ON events(run_machine, run_session, product, package_kind, offer_code, event_type);
CREATE INDEX IF NOT EXISTS events_by_package ON events(product, package_kind, offer_code, event_type);
CREATE INDEX IF NOT EXISTS events_by_type
  ON events(event_type, product, package_kind, offer_code, reason, failure_text, windows);
CREATE INDEX IF NOT EXISTS events_by_time ON events(received_at);
)sql";

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("sqlite prepare: ") + sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Text(int index, const std::string& value) {
    sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  void Blob(int index, const std::string& value) {
    sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  void Int(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw std::runtime_error(std::string("sqlite step: ") + sqlite3_errmsg(sqlite3_db_handle(stmt_)));
  }

  std::string ColumnText(int index) const {
    const void* data = sqlite3_column_blob(stmt_, index);
    int size = sqlite3_column_bytes(stmt_, index);
    return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size)) : std::string();
  }
  std::int64_t ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }
  bool ColumnIsNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }
  int ColumnCount() const { return sqlite3_column_count(stmt_); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string FieldText(const json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string FieldTextOf(const json& data, const char* field) {
  auto it = data.find(field);
  return it == data.end() ? std::string() : FieldText(*it);
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
  Statement probe(db, "SELECT COUNT(*) FROM pragma_table_info(?) WHERE name = ?");
  probe.Text(1, table);
  probe.Text(2, column);
  return probe.Step() && probe.ColumnInt(0) > 0;
}

// A store written before a column existed gets it, filled from the event's own fields.
// (kSchema names the same columns for a new store.)
void AddMissingEventColumns(sqlite3* db) {
  std::string sql;
  for (const EventColumn& column : kEventColumns) {
    if (HasColumn(db, "events", column.name)) continue;
    sql += std::string("ALTER TABLE events ADD COLUMN ") + column.name + " TEXT NOT NULL DEFAULT '';";
    sql += std::string("UPDATE events SET ") + column.name +
           " = COALESCE((SELECT value FROM event_fields WHERE event_id = events.id AND field = '" + column.field +
           "'), '');";
  }
  if (sql.empty()) return;
  char* error = nullptr;
  if (sqlite3_exec(db, ("BEGIN IMMEDIATE;" + sql + "COMMIT;").c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
    throw std::runtime_error("sqlite: adding the report's columns to events: " + message);
  }
}

}  // namespace

Store::Store(const std::filesystem::path& file, Mode mode) {
  int flags = SQLITE_OPEN_FULLMUTEX |
              (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("cannot open " + file.string() + ": " + message);
  }
  // Several server instances may share one data folder; writers wait for each other
  // instead of failing.
  sqlite3_busy_timeout(db_, 5000);
  if (mode == Mode::ReadWrite) {
    Exec("PRAGMA journal_mode=WAL;");
    // With WAL, NORMAL syncs the log at checkpoints instead of at every commit: a
    // committed event survives any crash of this process, and only a power cut
    // can take the last moments back. A sync per commit would cap the rate at one
    // batch per disk flush.
    Exec("PRAGMA synchronous=NORMAL;");
    Exec("PRAGMA foreign_keys=ON;");
    Exec(kSchema);
    AddMissingEventColumns(db_);
    Exec(kEventIndexes);
    writer_ = std::thread([this] { WriteLoop(); });
  }
}

Store::~Store() {
  {
    std::lock_guard lock(queueMutex_);
    stopping_ = true;
  }
  queueChanged_.notify_all();
  if (writer_.joinable()) writer_.join();  // writes what is still queued first
  sqlite3_close(db_);
}

std::filesystem::path Store::FileIn(const std::filesystem::path& dataDir) { return dataDir / "ostrel.db"; }

std::string Store::NowUtc() {
  auto now = std::chrono::system_clock::now();
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(millis));
  return text;
}

void Store::Exec(const char* sql) const {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message);
  }
}

void Store::RecordRequest(RequestRecord record) { Enqueue(std::move(record)); }

std::vector<RequestRecord> Store::Requests(const std::optional<std::string>& path) const {
  Flush();
  std::lock_guard lock(mutex_);
  Statement query(db_, path ? "SELECT id, received_at, listener, method, path, headers, body, status "
                              "FROM requests WHERE path = ? ORDER BY id"
                            : "SELECT id, received_at, listener, method, path, headers, body, status "
                              "FROM requests ORDER BY id");
  if (path) query.Text(1, *path);
  std::vector<RequestRecord> out;
  while (query.Step()) {
    RequestRecord r;
    r.id = query.ColumnInt(0);
    r.receivedAt = query.ColumnText(1);
    r.listener = query.ColumnText(2);
    r.method = query.ColumnText(3);
    r.path = query.ColumnText(4);
    r.headers = json::parse(query.ColumnText(5), nullptr, false);
    r.body = query.ColumnText(6);
    r.status = static_cast<int>(query.ColumnInt(7));
    out.push_back(std::move(r));
  }
  return out;
}

std::int64_t Store::AddEvent(const std::string& receivedAt, const std::string& table, const std::string& rawBody,
                             const json& data) {
  PendingEvent event{receivedAt, table, rawBody, data, {}};
  std::future<std::int64_t> stored = event.stored.get_future();
  Enqueue(std::move(event));
  return stored.get();
}

std::uint64_t Store::Enqueue(Write write) {
  std::lock_guard lock(queueMutex_);
  if (!writer_.joinable()) throw std::logic_error("store opened read-only");
  queue_.push_back(std::move(write));
  ++queued_;
  queueChanged_.notify_all();
  return queued_;
}

void Store::Flush() const {
  std::unique_lock lock(queueMutex_);
  const std::uint64_t target = queued_;
  queueChanged_.wait(lock, [&] { return committed_ >= target; });
}

void Store::WriteLoop() {
  std::vector<Write> batch;
  for (;;) {
    std::uint64_t end = 0;
    {
      std::unique_lock lock(queueMutex_);
      queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, nothing left
      batch.swap(queue_);
      end = queued_;
    }
    WriteBatch(batch);
    batch.clear();
    {
      std::lock_guard lock(queueMutex_);
      committed_ = end;
    }
    queueChanged_.notify_all();
  }
}

void Store::WriteBatch(std::vector<Write>& batch) {
  std::vector<std::pair<PendingEvent*, std::int64_t>> events;
  std::lock_guard lock(mutex_);
  try {
    Exec("BEGIN IMMEDIATE;");
    try {
      Statement request(db_,
                        "INSERT INTO requests (received_at, listener, method, path, headers, body, status) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?)");
      Statement event(db_,
                      "INSERT INTO events (received_at, table_name, raw_body, run_machine, run_session, product, "
                      "package_kind, offer_code, event_type, reason, failure_text, windows) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
      Statement field(db_, "INSERT INTO event_fields (event_id, field, value, value_json) VALUES (?, ?, ?, ?)");
      bool requestsAdded = false;
      for (Write& write : batch) {
        if (auto* r = std::get_if<RequestRecord>(&write)) {
          request.Reset();
          request.Text(1, r->receivedAt);
          request.Text(2, r->listener);
          request.Text(3, r->method);
          request.Text(4, r->path);
          request.Text(5, r->headers.dump(-1, ' ', false, json::error_handler_t::replace));
          request.Blob(6, r->body);
          request.Int(7, r->status);
          request.Step();
          requestsAdded = true;
          continue;
        }
        auto& e = std::get<PendingEvent>(write);
        event.Reset();
        event.Text(1, e.receivedAt);
        event.Text(2, e.table);
        event.Blob(3, e.rawBody);
        int index = 4;
        for (const EventColumn& column : kEventColumns) event.Text(index++, FieldTextOf(e.data, column.field));
        event.Step();
        const std::int64_t id = sqlite3_last_insert_rowid(db_);
        for (const auto& [key, value] : e.data.items()) {
          field.Reset();
          field.Int(1, id);
          field.Text(2, key);
          field.Text(3, FieldText(value));
          field.Text(4, value.dump(-1, ' ', false, json::error_handler_t::replace));
          field.Step();
        }
        events.emplace_back(&e, id);
      }
      if (requestsAdded) {
        Statement trim(db_, "DELETE FROM requests WHERE id <= (SELECT MAX(id) FROM requests) - ?");
        trim.Int(1, static_cast<std::int64_t>(kMaxRecordedRequests));
        trim.Step();
      }
      Exec("COMMIT;");
    } catch (...) {
      Exec("ROLLBACK;");
      throw;
    }
  } catch (const std::exception& e) {
    // Nothing of the batch was written: every event in it is refused.
    std::fprintf(stderr, "ostrel-server: store: %s\n", e.what());
    for (Write& write : batch) {
      if (auto* pending = std::get_if<PendingEvent>(&write)) {
        pending->stored.set_exception(std::make_exception_ptr(std::runtime_error(e.what())));
      }
    }
    return;
  }
  for (auto& [pending, id] : events) pending->stored.set_value(id);
}

std::vector<StoredEvent> Store::Events() const {
  Flush();
  std::lock_guard lock(mutex_);
  std::vector<StoredEvent> out;
  {
    Statement query(db_, "SELECT id, received_at, table_name, raw_body FROM events ORDER BY id");
    while (query.Step()) {
      StoredEvent e;
      e.id = query.ColumnInt(0);
      e.receivedAt = query.ColumnText(1);
      e.table = query.ColumnText(2);
      e.rawBody = query.ColumnText(3);
      out.push_back(std::move(e));
    }
  }
  Statement fields(db_, "SELECT event_id, field, value_json FROM event_fields ORDER BY event_id");
  std::size_t at = 0;
  while (fields.Step()) {
    std::int64_t eventId = fields.ColumnInt(0);
    while (at < out.size() && out[at].id < eventId) ++at;
    if (at == out.size() || out[at].id != eventId) continue;  // written between the two reads
    out[at].fields[fields.ColumnText(1)] = json::parse(fields.ColumnText(2), nullptr, false);
  }
  return out;
}

std::int64_t Store::EventCount() const {
  Flush();
  std::lock_guard lock(mutex_);
  Statement count(db_, "SELECT COUNT(*) FROM events");
  return count.Step() ? count.ColumnInt(0) : 0;
}

std::vector<std::vector<std::optional<std::string>>> Store::Select(const std::string& sql,
                                                                   const std::vector<std::string>& params) const {
  Flush();
  std::lock_guard lock(mutex_);
  Statement query(db_, sql.c_str());
  for (std::size_t i = 0; i < params.size(); ++i) query.Text(static_cast<int>(i + 1), params[i]);
  std::vector<std::vector<std::optional<std::string>>> rows;
  while (query.Step()) {
    std::vector<std::optional<std::string>>& row = rows.emplace_back();
    for (int column = 0; column < query.ColumnCount(); ++column) {
      row.push_back(query.ColumnIsNull(column) ? std::nullopt : std::optional(query.ColumnText(column)));
    }
  }
  return rows;
}

void Store::Clear() {
  Flush();
  std::lock_guard lock(mutex_);
  Exec("BEGIN IMMEDIATE; DELETE FROM event_fields; DELETE FROM events; DELETE FROM requests; COMMIT;");
}

}  // namespace ostrel
