#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ostrel {

// One planned misbehaviour, used up by one request to its path.
struct FaultStep {
  std::optional<int> status;        // answer with this status instead of the real handler
  std::optional<std::string> body;  // answer with these bytes instead of the real handler
  std::string contentType = "application/json";
  int delayMs = 0;    // wait this long before answering
  bool drop = false;  // after the delay, close the connection without any answer

  // A step with only a delay still lets the real handler answer.
  bool ReplacesAnswer() const { return drop || status.has_value() || body.has_value(); }
};

// Per-path queues of fault steps that tests set while the server runs. Each request
// to a path takes the next step of that path; an empty queue means normal service.
class FaultBook {
 public:
  // Replaces the queue of one path. Throws std::invalid_argument with a message fit
  // for the client when the request is malformed.
  // {"path":"/o","statuses":[503,200],"bodies":["x",null],"delayMs":0,
  //  "delaysMs":[..],"count":N,"contentType":"text/plain","drop":false}
  // Returns the path and the number of steps queued.
  std::pair<std::string, std::size_t> Set(const nlohmann::json& request);

  std::optional<FaultStep> Take(const std::string& path);
  void Clear();
  nlohmann::json Pending() const;

  // Waits for a step's delay; returns early (false) when Interrupt() is called so that
  // a stopping server does not hang on a long delay.
  bool Sleep(int delayMs);
  void Interrupt();

  static constexpr std::size_t kMaxSteps = 1000;
  static constexpr int kMaxDelayMs = 10 * 60 * 1000;

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool interrupted_ = false;
  std::map<std::string, std::vector<FaultStep>> queues_;  // front = next step
};

}  // namespace ostrel
