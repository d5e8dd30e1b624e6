#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct sqlite3;

namespace ostrel {

// One request as it reached a public endpoint, with the status it was answered with.
struct RequestRecord {
  std::int64_t id = 0;
  std::string receivedAt;  // UTC, ISO 8601 with milliseconds
  std::string listener;    // "https" or "http"
  std::string method;
  std::string path;
  nlohmann::json headers = nlohmann::json::array();  // [[name, value], ...] in arrival order
  std::string body;        // raw bytes
  int status = 0;
};

// One accepted analytics event. fields holds the numbered fields with their JSON types.
struct StoredEvent {
  std::int64_t id = 0;
  std::string receivedAt;
  std::string table;
  std::string rawBody;     // the whole POST body, byte for byte
  nlohmann::json fields = nlohmann::json::object();
};

// Everything the server records lives in one SQLite file, DATA/ostrel.db, so that a
// test, the report command and a person with the sqlite3 shell all see the same data.
class Store {
 public:
  enum class Mode { ReadWrite, ReadOnly };

  explicit Store(const std::filesystem::path& file, Mode mode = Mode::ReadWrite);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  static std::filesystem::path FileIn(const std::filesystem::path& dataDir);
  static std::string NowUtc();

  std::int64_t RecordRequest(const RequestRecord& record);
  std::vector<RequestRecord> Requests(const std::optional<std::string>& path) const;

  // data: the decoded event object; each member becomes its own row of event_fields.
  std::int64_t AddEvent(const std::string& receivedAt, const std::string& table,
                        const std::string& rawBody, const nlohmann::json& data);
  std::vector<StoredEvent> Events() const;

  void Clear();

 private:
  void Exec(const char* sql) const;

  sqlite3* db_ = nullptr;
  mutable std::mutex mutex_;
};

}  // namespace ostrel
