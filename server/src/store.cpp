#include "store.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace ostrel {

Store::Store(const std::filesystem::path& file, Mode mode)
    : Store(OpenSqliteEngine(file, mode == Mode::ReadOnly), mode) {}

Store::Store(std::unique_ptr<StoreEngine> engine, Mode mode) : engine_(std::move(engine)) {
  if (mode == Mode::ReadWrite) writer_ = std::thread([this] { WriteLoop(); });
}

std::unique_ptr<Store> Store::Open(const std::optional<std::string>& postgres, const std::filesystem::path& dataDir,
                                   Mode mode) {
  if (!postgres) return std::make_unique<Store>(FileIn(dataDir), mode);
  return std::make_unique<Store>(OpenPostgresEngine(*postgres, mode == Mode::ReadOnly), mode);
}

Store::~Store() {
  {
    std::lock_guard lock(queueMutex_);
    stopping_ = true;
  }
  queueChanged_.notify_all();
  if (writer_.joinable()) writer_.join();  // writes what is still queued first
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

void Store::RecordRequest(RequestRecord record) { Enqueue(std::move(record)); }

std::vector<RequestRecord> Store::Requests(const std::optional<std::string>& path) const {
  Flush();
  std::lock_guard lock(mutex_);
  return engine_->Requests(path);
}

std::int64_t Store::AddEvent(const std::string& receivedAt, const std::string& table, const std::string& rawBody,
                             const nlohmann::json& data) {
  PendingEvent event{{receivedAt, table, rawBody, data}, {}};
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
  std::vector<const RequestRecord*> requests;
  std::vector<PendingEvent*> pending;
  std::vector<const NewEvent*> events;
  for (Write& write : batch) {
    if (auto* r = std::get_if<RequestRecord>(&write)) {
      requests.push_back(r);
    } else {
      pending.push_back(&std::get<PendingEvent>(write));
      events.push_back(&pending.back()->event);
    }
  }
  std::vector<std::int64_t> ids;
  try {
    std::lock_guard lock(mutex_);
    ids = engine_->Write(requests, events, kMaxRecordedRequests);
  } catch (const std::exception& e) {
    // Nothing of the batch was written: every event in it is refused. The engine
    // has already said once that its database is out of reach.
    const bool unavailable = dynamic_cast<const StoreUnavailable*>(&e) != nullptr;
    if (!unavailable) std::fprintf(stderr, "ostrel-server: store: %s\n", e.what());
    for (PendingEvent* p : pending) {
      p->stored.set_exception(unavailable ? std::make_exception_ptr(StoreUnavailable(e.what()))
                                          : std::make_exception_ptr(std::runtime_error(e.what())));
    }
    return;
  }
  for (std::size_t i = 0; i < pending.size(); ++i) pending[i]->stored.set_value(ids.at(i));
}

std::vector<StoredEvent> Store::Events() const {
  Flush();
  std::lock_guard lock(mutex_);
  return engine_->Events();
}

std::int64_t Store::EventCount() const {
  Flush();
  std::lock_guard lock(mutex_);
  return engine_->EventCount();
}

SelectRows Store::Select(const std::string& sql, const std::vector<std::string>& params) const {
  Flush();
  std::lock_guard lock(mutex_);
  return engine_->Select(sql, params);
}

void Store::Clear() {
  Flush();
  std::lock_guard lock(mutex_);
  engine_->Clear();
}

}  // namespace ostrel
