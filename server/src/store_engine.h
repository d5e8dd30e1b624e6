#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ostrel {

// One request as it reached a public endpoint, with the status it was answered with.
struct RequestRecord {
  std::int64_t id = 0;
  std::string receivedAt;  // UTC, ISO 8601 with milliseconds
  std::string listener;    // "https" or "http"
  std::string method;
  std::string path;
  nlohmann::json headers = nlohmann::json::array();  // [[name, value], ...] in arrival order
  std::string body;                                  // raw bytes
  int status = 0;
};

// One accepted analytics event. fields holds the numbered fields with their JSON types.
struct StoredEvent {
  std::int64_t id = 0;
  std::string receivedAt;
  std::string table;
  std::string rawBody;  // the whole POST body, byte for byte
  nlohmann::json fields = nlohmann::json::object();
};

// An event on its way into the store; data is the decoded event object.
struct NewEvent {
  std::string receivedAt;
  std::string table;
  std::string rawBody;
  nlohmann::json data;
};

// Rows of a Select: every column as text, SQL NULL as nullopt.
using SelectRows = std::vector<std::vector<std::optional<std::string>>>;

// The store cannot reach its database just now; a later call may succeed.
struct StoreUnavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The database behind a Store: the same tables (requests, events, event_fields) on
// SQLite or on PostgreSQL. An engine is used by one thread at a time (the Store
// serialises every call); each method throws std::runtime_error, StoreUnavailable
// when the database is out of reach, and then has changed nothing.
class StoreEngine {
 public:
  virtual ~StoreEngine() = default;

  // One transaction: every record or none. Afterwards only the newest keepRequests
  // requests remain. Returns the events' ids, in order.
  virtual std::vector<std::int64_t> Write(const std::vector<const RequestRecord*>& requests,
                                          const std::vector<const NewEvent*>& events, std::size_t keepRequests) = 0;
  virtual std::vector<RequestRecord> Requests(const std::optional<std::string>& path) = 0;
  virtual std::vector<StoredEvent> Events() = 0;
  virtual std::int64_t EventCount() = 0;
  virtual void Clear() = 0;
  // sql: one statement valid on SQLite 3 and PostgreSQL 15, parameters as "?".
  virtual SelectRows Select(const std::string& sql, const std::vector<std::string>& params) = 0;
};

// Opens (and, read-write, creates) the SQLite file. Throws std::runtime_error.
std::unique_ptr<StoreEngine> OpenSqliteEngine(const std::filesystem::path& file, bool readOnly);

// connection: a libpq connection string (URI or key=value); a password comes from it,
// from PGPASSFILE or from the environment, as libpq reads them. Read-write creates the
// tables when they are missing, safely against other servers doing the same. Throws
// std::runtime_error whose text never holds the connection string.
std::unique_ptr<StoreEngine> OpenPostgresEngine(const std::string& connection, bool readOnly);

// The text of a record or event field as it is kept in event_fields.value.
std::string FieldText(const nlohmann::json& value);

// The fields the report groups by are kept beside the event as well, in columns of
// events of their own: pivoting them out of event_fields takes seconds per query
// once a store holds a million events. Each holds the field's plain text, '' when
// the event has none.
struct EventColumn {
  const char* name;
  const char* field;
};
inline constexpr EventColumn kEventColumns[] = {
    {"run_machine", "1"}, {"run_session", "2"}, {"product", "22"},      {"package_kind", "10"}, {"offer_code", "5"},
    {"event_type", "6"},  {"reason", "13"},     {"failure_text", "12"}, {"windows", "31"},
};
std::string FieldTextOf(const nlohmann::json& data, const char* field);

// The indexes the report's queries read through; SQL both engines take.
inline constexpr const char* kEventIndexes = R"sql(
CREATE INDEX IF NOT EXISTS events_by_run
  ON events(run_machine, run_session, product, package_kind, offer_code, event_type);
CREATE INDEX IF NOT EXISTS events_by_package ON events(product, package_kind, offer_code, event_type);
CREATE INDEX IF NOT EXISTS events_by_type
  ON events(event_type, product, package_kind, offer_code, reason, failure_text, windows);
CREATE INDEX IF NOT EXISTS events_by_time ON events(received_at);
)sql";

}  // namespace ostrel
