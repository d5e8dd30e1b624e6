// The store on one SQLite file, DATA/ostrel.db: what a test, the report command
// and a person with the sqlite3 shell all read.
#include <sqlite3.h>

#include <stdexcept>

#include "store_engine.h"

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
-- The columns after raw_body are kEventColumns.
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
  int Columns() const { return sqlite3_column_count(stmt_); }
  bool ColumnNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

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

class SqliteEngine final : public StoreEngine {
 public:
  SqliteEngine(const std::filesystem::path& file, bool readOnly) {
    int flags = SQLITE_OPEN_FULLMUTEX | (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      db_ = nullptr;
      throw std::runtime_error("cannot open " + file.string() + ": " + message);
    }
    // Several server instances may share one data folder; writers wait for each other
    // instead of failing.
    sqlite3_busy_timeout(db_, 5000);
    if (!readOnly) {
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
    }
  }
  ~SqliteEngine() override { sqlite3_close(db_); }
  SqliteEngine(const SqliteEngine&) = delete;
  SqliteEngine& operator=(const SqliteEngine&) = delete;

  std::vector<std::int64_t> Write(const std::vector<const RequestRecord*>& requests,
                                  const std::vector<const NewEvent*>& events, std::size_t keepRequests) override;
  std::vector<RequestRecord> Requests(const std::optional<std::string>& path) override;
  std::vector<StoredEvent> Events() override;
  std::int64_t EventCount() override;
  void Clear() override;
  SelectRows Select(const std::string& sql, const std::vector<std::string>& params) override;

 private:
  void Exec(const char* sql) const {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : "unknown error";
      sqlite3_free(error);
      throw std::runtime_error("sqlite: " + message);
    }
  }
  void WriteRecords(const std::vector<const RequestRecord*>& requests, const std::vector<const NewEvent*>& events,
                    std::size_t keepRequests, std::vector<std::int64_t>& ids);

  sqlite3* db_ = nullptr;
};

std::vector<std::int64_t> SqliteEngine::Write(const std::vector<const RequestRecord*>& requests,
                                              const std::vector<const NewEvent*>& events, std::size_t keepRequests) {
  std::vector<std::int64_t> ids;
  Exec("BEGIN IMMEDIATE;");
  try {
    WriteRecords(requests, events, keepRequests, ids);
    Exec("COMMIT;");
  } catch (...) {
    Exec("ROLLBACK;");
    throw;
  }
  return ids;
}

void SqliteEngine::WriteRecords(const std::vector<const RequestRecord*>& requests,
                                const std::vector<const NewEvent*>& events, std::size_t keepRequests,
                                std::vector<std::int64_t>& ids) {
  Statement request(db_,
                    "INSERT INTO requests (received_at, listener, method, path, headers, body, status) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?)");
  for (const RequestRecord* r : requests) {
    request.Reset();
    request.Text(1, r->receivedAt);
    request.Text(2, r->listener);
    request.Text(3, r->method);
    request.Text(4, r->path);
    request.Text(5, r->headers.dump(-1, ' ', false, json::error_handler_t::replace));
    request.Blob(6, r->body);
    request.Int(7, r->status);
    request.Step();
  }
  Statement event(db_,
                  "INSERT INTO events (received_at, table_name, raw_body, run_machine, run_session, product, "
                  "package_kind, offer_code, event_type, reason, failure_text, windows) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement field(db_, "INSERT INTO event_fields (event_id, field, value, value_json) VALUES (?, ?, ?, ?)");
  for (const NewEvent* e : events) {
    event.Reset();
    event.Text(1, e->receivedAt);
    event.Text(2, e->table);
    event.Blob(3, e->rawBody);
    int index = 4;
    for (const EventColumn& column : kEventColumns) event.Text(index++, FieldTextOf(e->data, column.field));
    event.Step();
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    for (const auto& [key, value] : e->data.items()) {
      field.Reset();
      field.Int(1, id);
      field.Text(2, key);
      field.Text(3, FieldText(value));
      field.Text(4, value.dump(-1, ' ', false, json::error_handler_t::replace));
      field.Step();
    }
    ids.push_back(id);
  }
  if (!requests.empty()) {
    Statement trim(db_, "DELETE FROM requests WHERE id <= (SELECT MAX(id) FROM requests) - ?");
    trim.Int(1, static_cast<std::int64_t>(keepRequests));
    trim.Step();
  }
}

std::vector<RequestRecord> SqliteEngine::Requests(const std::optional<std::string>& path) {
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

std::vector<StoredEvent> SqliteEngine::Events() {
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

std::int64_t SqliteEngine::EventCount() {
  Statement count(db_, "SELECT COUNT(*) FROM events");
  return count.Step() ? count.ColumnInt(0) : 0;
}

void SqliteEngine::Clear() {
  Exec("BEGIN IMMEDIATE; DELETE FROM event_fields; DELETE FROM events; DELETE FROM requests; COMMIT;");
}

SelectRows SqliteEngine::Select(const std::string& sql, const std::vector<std::string>& params) {
  Statement query(db_, sql.c_str());
  for (std::size_t i = 0; i < params.size(); ++i) query.Text(static_cast<int>(i + 1), params[i]);
  SelectRows rows;
  while (query.Step()) {
    auto& row = rows.emplace_back();
    for (int c = 0; c < query.Columns(); ++c) {
      row.push_back(query.ColumnNull(c) ? std::nullopt : std::optional<std::string>(query.ColumnText(c)));
    }
  }
  return rows;
}

}  // namespace

std::unique_ptr<StoreEngine> OpenSqliteEngine(const std::filesystem::path& file, bool readOnly) {
  return std::make_unique<SqliteEngine>(file, readOnly);
}

std::string FieldText(const json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string FieldTextOf(const json& data, const char* field) {
  auto it = data.find(field);
  return it == data.end() ? std::string() : FieldText(*it);
}

}  // namespace ostrel
