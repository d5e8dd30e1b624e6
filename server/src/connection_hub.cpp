#include "connection_hub.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ostrel {

namespace {

// How often the watcher looks for connections past their deadline.
constexpr int kSweepMs = 100;

}  // namespace

ConnectionHub::ConnectionHub(std::size_t workers, Serve serve) : serve_(std::move(serve)) {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epoll_ < 0 || wake_ < 0) {
    const std::string reason = std::strerror(errno);
    if (epoll_ >= 0) ::close(epoll_);
    if (wake_ >= 0) ::close(wake_);
    throw std::runtime_error("cannot watch connections: " + reason);
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wake_;
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
  watcher_ = std::thread([this] { Watch(); });
  for (std::size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

ConnectionHub::~ConnectionHub() {
  Shutdown();
  ::close(epoll_);
  ::close(wake_);
}

void ConnectionHub::Admit(std::unique_ptr<Connection> connection) { Park(std::move(connection)); }

void ConnectionHub::Park(std::unique_ptr<Connection> connection) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;  // closed on the way out
  const int sock = connection->Socket();
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.fd = sock;
  if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, sock, &event) != 0) return;
  waiting_[sock] = std::move(connection);
}

void ConnectionHub::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(wake_, &one, sizeof one);
  ready_cv_.notify_all();
  if (watcher_.joinable()) watcher_.join();
  for (auto& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  std::lock_guard lock(mutex_);
  waiting_.clear();
  ready_.clear();
}

bool ConnectionHub::Stopping() const {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void ConnectionHub::Watch() {
  std::array<epoll_event, 64> events{};
  auto nextSweep = SteadyClock::now();
  for (;;) {
    const int count = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), kSweepMs);
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    bool handedOut = false;
    for (int i = 0; i < count; ++i) {
      const int sock = events[static_cast<std::size_t>(i)].data.fd;
      auto it = waiting_.find(sock);
      if (it == waiting_.end()) continue;
      ::epoll_ctl(epoll_, EPOLL_CTL_DEL, sock, nullptr);
      ready_.push_back(std::move(it->second));
      waiting_.erase(it);
      handedOut = true;
    }
    const auto now = SteadyClock::now();
    if (now >= nextSweep) {
      CloseOverdue(now);
      nextSweep = now + std::chrono::milliseconds(kSweepMs);
    }
    lock.unlock();
    if (handedOut) ready_cv_.notify_all();
  }
}

void ConnectionHub::CloseOverdue(SteadyClock::time_point now) {
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (it->second->headDeadline > now) {
      ++it;
      continue;
    }
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, it->first, nullptr);
    it = waiting_.erase(it);
  }
}

void ConnectionHub::Work() {
  for (;;) {
    std::unique_ptr<Connection> connection;
    {
      std::unique_lock lock(mutex_);
      ready_cv_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
      if (stopping_) return;
      connection = std::move(ready_.front());
      ready_.pop_front();
    }
    bool keep = false;
    try {
      keep = serve_(*connection);
    } catch (const std::exception&) {
      // Whatever went wrong belongs to this connection alone: it closes.
    }
    if (keep) Park(std::move(connection));
  }
}

}  // namespace ostrel
