#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "connection.h"

namespace ostrel {

// Where a listener's connections live between requests. A connection that waits
// for bytes costs no worker thread: one thread watches all of them (epoll) and
// closes those whose deadline for a whole request head has passed; a worker takes
// one only when bytes have arrived. So idle or slow clients never keep others
// from being served.
class ConnectionHub {
 public:
  // Runs on a worker for a connection with bytes to read. True: the connection
  // waits for its next bytes; false: it is closed.
  using Serve = std::function<bool(Connection&)>;

  ConnectionHub(std::size_t workers, Serve serve);
  ~ConnectionHub();
  ConnectionHub(const ConnectionHub&) = delete;
  ConnectionHub& operator=(const ConnectionHub&) = delete;

  // Takes a connection in to wait for its first bytes. Closes it at once when
  // the hub is stopping.
  void Admit(std::unique_ptr<Connection> connection);

  // Closes every waiting connection, lets the workers finish what they serve and
  // joins every thread. Idempotent.
  void Shutdown();
  bool Stopping() const;

 private:
  void Park(std::unique_ptr<Connection> connection);
  void Watch();
  void Work();
  void CloseOverdue(SteadyClock::time_point now);

  Serve serve_;
  int epoll_ = -1;
  int wake_ = -1;  // eventfd that ends the watcher's wait
  mutable std::mutex mutex_;
  std::condition_variable ready_cv_;
  std::map<int, std::unique_ptr<Connection>> waiting_;  // by socket
  std::deque<std::unique_ptr<Connection>> ready_;
  bool stopping_ = false;
  std::thread watcher_;
  std::vector<std::thread> workers_;
};

}  // namespace ostrel
