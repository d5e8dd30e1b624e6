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
CREATE TABLE IF NOT EXISTS events (
  id          INTEGER PRIMARY KEY AUTOINCREMENT,
  received_at TEXT NOT NULL,
  table_name  TEXT NOT NULL,
  raw_body    BLOB NOT NULL
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

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string FieldText(const json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, json::error_handler_t::replace);
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
    Exec("PRAGMA foreign_keys=ON;");
    Exec(kSchema);
  }
}

Store::~Store() { sqlite3_close(db_); }

std::filesystem::path Store::FileIn(const std::filesystem::path& dataDir) { return dataDir / "ostrel.db"; }

std::string Store::NowUtc() {
  auto now = std::chrono::system_clock::now();
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(millis));
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

std::int64_t Store::RecordRequest(const RequestRecord& record) {
  std::lock_guard lock(mutex_);
  Statement insert(db_,
                   "INSERT INTO requests (received_at, listener, method, path, headers, body, status) "
                   "VALUES (?, ?, ?, ?, ?, ?, ?)");
  insert.Text(1, record.receivedAt);
  insert.Text(2, record.listener);
  insert.Text(3, record.method);
  insert.Text(4, record.path);
  insert.Text(5, record.headers.dump(-1, ' ', false, json::error_handler_t::replace));
  insert.Blob(6, record.body);
  insert.Int(7, record.status);
  insert.Step();
  return sqlite3_last_insert_rowid(db_);
}

std::vector<RequestRecord> Store::Requests(const std::optional<std::string>& path) const {
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
  std::lock_guard lock(mutex_);
  Exec("BEGIN IMMEDIATE;");
  try {
    Statement insert(db_, "INSERT INTO events (received_at, table_name, raw_body) VALUES (?, ?, ?)");
    insert.Text(1, receivedAt);
    insert.Text(2, table);
    insert.Blob(3, rawBody);
    insert.Step();
    std::int64_t id = sqlite3_last_insert_rowid(db_);
    Statement row(db_, "INSERT INTO event_fields (event_id, field, value, value_json) VALUES (?, ?, ?, ?)");
    for (const auto& [key, value] : data.items()) {
      row.Reset();
      row.Int(1, id);
      row.Text(2, key);
      row.Text(3, FieldText(value));
      row.Text(4, value.dump(-1, ' ', false, json::error_handler_t::replace));
      row.Step();
    }
    Exec("COMMIT;");
    return id;
  } catch (...) {
    Exec("ROLLBACK;");
    throw;
  }
}

std::vector<StoredEvent> Store::Events() const {
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

void Store::Clear() {
  std::lock_guard lock(mutex_);
  Exec("BEGIN IMMEDIATE; DELETE FROM event_fields; DELETE FROM events; DELETE FROM requests; COMMIT;");
}

}  // namespace ostrel
