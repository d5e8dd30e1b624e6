#include "faults.h"

#include <algorithm>
#include <stdexcept>

namespace ostrel {

namespace {

using nlohmann::json;

const json* Member(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

const json& ArrayMember(const json& object, const char* key) {
  static const json empty = json::array();
  const json* value = Member(object, key);
  if (!value) return empty;
  if (!value->is_array()) throw std::invalid_argument(std::string("\"") + key + "\" must be an array");
  return *value;
}

int DelayValue(const json& value, const char* what) {
  if (!value.is_number_integer() || value.get<long long>() < 0 || value.get<long long>() > FaultBook::kMaxDelayMs) {
    throw std::invalid_argument(std::string(what) + " must be a whole number of milliseconds from 0 to " +
                                std::to_string(FaultBook::kMaxDelayMs));
  }
  return value.get<int>();
}

}  // namespace

std::pair<std::string, std::size_t> FaultBook::Set(const json& request) {
  if (!request.is_object()) throw std::invalid_argument("fault request must be a JSON object");
  const json* pathValue = Member(request, "path");
  if (!pathValue || !pathValue->is_string()) throw std::invalid_argument("\"path\" must be a string");
  std::string path = pathValue->get<std::string>();
  if (path.empty() || path.front() != '/') throw std::invalid_argument("\"path\" must start with /");
  // The control endpoints must stay reachable whatever a test breaks.
  if (path.rfind("/_test/", 0) == 0) throw std::invalid_argument("/_test/ paths cannot be faulted");

  const json& statuses = ArrayMember(request, "statuses");
  const json& bodies = ArrayMember(request, "bodies");
  const json& delays = ArrayMember(request, "delaysMs");

  int delayAll = 0;
  if (const json* d = Member(request, "delayMs")) delayAll = DelayValue(*d, "\"delayMs\"");
  bool drop = false;
  if (const json* d = Member(request, "drop")) {
    if (!d->is_boolean()) throw std::invalid_argument("\"drop\" must be true or false");
    drop = d->get<bool>();
  }
  if (drop && (!statuses.empty() || !bodies.empty())) {
    throw std::invalid_argument("\"drop\" leaves no answer for \"statuses\" or \"bodies\"");
  }

  std::size_t count = std::max({statuses.size(), bodies.size(), delays.size()});
  if (const json* c = Member(request, "count")) {
    if (!c->is_number_integer() || c->get<long long>() < 0) {
      throw std::invalid_argument("\"count\" must be a non-negative whole number");
    }
    std::size_t asked = c->get<std::size_t>();
    if (asked < count) throw std::invalid_argument("\"count\" is smaller than the lists it goes with");
    count = asked;
  } else if (count == 0 && (delayAll > 0 || drop)) {
    count = 1;  // a lone delay or drop means "the next request"
  }
  if (count > kMaxSteps) throw std::invalid_argument("too many steps");

  std::string contentType = "application/json";
  if (const json* ct = Member(request, "contentType")) {
    if (!ct->is_string()) throw std::invalid_argument("\"contentType\" must be a string");
    contentType = ct->get<std::string>();
  }

  std::vector<FaultStep> steps(count);
  for (std::size_t i = 0; i < count; ++i) {
    FaultStep& step = steps[i];
    step.contentType = contentType;
    step.delayMs = delayAll;
    step.drop = drop;
    if (i < statuses.size() && !statuses[i].is_null()) {
      const json& s = statuses[i];
      if (!s.is_number_integer() || s.get<long long>() < 200 || s.get<long long>() > 599) {
        throw std::invalid_argument("statuses must be numbers from 200 to 599 or null");
      }
      step.status = s.get<int>();
    }
    if (i < bodies.size() && !bodies[i].is_null()) {
      if (!bodies[i].is_string()) throw std::invalid_argument("bodies must be strings or null");
      step.body = bodies[i].get<std::string>();
    }
    if (i < delays.size() && !delays[i].is_null()) step.delayMs = DelayValue(delays[i], "\"delaysMs\" entries");
  }

  std::lock_guard lock(mutex_);
  if (steps.empty()) {
    queues_.erase(path);
  } else {
    queues_[path] = std::move(steps);
  }
  return {path, count};
}

std::optional<FaultStep> FaultBook::Take(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = queues_.find(path);
  if (it == queues_.end()) return std::nullopt;
  FaultStep step = std::move(it->second.front());
  it->second.erase(it->second.begin());
  if (it->second.empty()) queues_.erase(it);
  return step;
}

void FaultBook::Clear() {
  std::lock_guard lock(mutex_);
  queues_.clear();
}

nlohmann::json FaultBook::Pending() const {
  std::lock_guard lock(mutex_);
  json out = json::object();
  for (const auto& [path, steps] : queues_) {
    json list = json::array();
    for (const FaultStep& step : steps) {
      json s = {{"delayMs", step.delayMs}, {"drop", step.drop}};
      s["status"] = step.status ? json(*step.status) : json(nullptr);
      s["body"] = step.body ? json(*step.body) : json(nullptr);
      list.push_back(std::move(s));
    }
    out[path] = std::move(list);
  }
  return out;
}

bool FaultBook::Sleep(int delayMs) {
  if (delayMs <= 0) return true;
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return interrupted_; });
}

void FaultBook::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  wake_.notify_all();
}

}  // namespace ostrel
