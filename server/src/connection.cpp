#include "connection.h"

#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

namespace ostrel {

namespace {

constexpr std::size_t kReadPiece = 16 * 1024;
// What is read away from a body left unread, so that closing does not reset the
// connection before the client has read the answer: no more than this, and for no
// longer.
constexpr std::size_t kMaxDrainBytes = 256 * 1024;
constexpr auto kMaxDrainTime = std::chrono::milliseconds(200);

bool Readable(int sock) {
  pollfd p{sock, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace

void ClearTlsErrors() { ERR_clear_error(); }

Connection::Connection(int sock, SteadyClock::time_point headDeadline, std::size_t requestsLeft)
    : headDeadline(headDeadline), requestsLeft(requestsLeft), sock_(sock) {}

Connection::~Connection() {
  if (ssl_ && closeWithTlsShutdown) {
    ClearTlsErrors();
    SSL_shutdown(ssl_.get());
  }
  if (drainBeforeClose) Drain();
  ::shutdown(sock_, SHUT_RDWR);
  ::close(sock_);
}

void Connection::Drain() {
  ::shutdown(sock_, SHUT_WR);
  const auto end = SteadyClock::now() + kMaxDrainTime;
  char sink[4096];
  std::size_t drained = 0;
  while (drained < kMaxDrainBytes) {
    const int wait =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now()).count());
    pollfd p{sock_, POLLIN, 0};
    if (wait <= 0 || ::poll(&p, 1, wait) <= 0) return;
    const ssize_t n = ::recv(sock_, sink, sizeof sink, MSG_DONTWAIT);
    if (n <= 0) return;
    drained += static_cast<std::size_t>(n);
  }
}

Connection::Progress Connection::Handshake(SSL_CTX* tls) {
  if (!tls || tlsReady_) return Progress::Ready;
  if (!ssl_) {
    ssl_.reset(SSL_new(tls));
    if (!ssl_ || SSL_set_fd(ssl_.get(), sock_) != 1) return Progress::Failed;
  }
  for (;;) {
    ClearTlsErrors();
    const int result = SSL_accept(ssl_.get());
    if (result == 1) {
      tlsReady_ = true;
      return Progress::Ready;
    }
    switch (SSL_get_error(ssl_.get(), result)) {
      case SSL_ERROR_WANT_READ:
        return Progress::NeedsBytes;
      case SSL_ERROR_WANT_WRITE: {
        // The server's flight did not fit the send buffer; it drains quickly.
        pollfd p{sock_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return Progress::Failed;
        continue;
      }
      default:
        return Progress::Failed;
    }
  }
}

std::ptrdiff_t Connection::ReceiveNow(char* out, std::size_t size) {
  const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  if (!ssl_) {
    for (;;) {
      const ssize_t n = ::recv(sock_, out, static_cast<std::size_t>(chunk), MSG_DONTWAIT);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
    }
  }
  ClearTlsErrors();
  const int n = SSL_read(ssl_.get(), out, chunk);
  if (n > 0) return n;
  switch (SSL_get_error(ssl_.get(), n)) {
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_WANT_READ:
      return -1;
    default:
      return -2;
  }
}

bool Connection::PendingHoldsAHead() const {
  // httplib ends the head at a line that is exactly CRLF.
  const std::string_view unread = std::string_view(pending_).substr(pendingAt_);
  return unread.find("\n\r\n") != std::string_view::npos;
}

Connection::Progress Connection::GatherHead(std::size_t maxHeadBytes) {
  if (pendingAt_ == pending_.size()) {
    pending_.clear();
    pendingAt_ = 0;
  }
  while (!PendingHoldsAHead()) {
    if (pending_.size() - pendingAt_ > maxHeadBytes) return Progress::Failed;
    char piece[kReadPiece];
    const std::ptrdiff_t n = ReceiveNow(piece, sizeof piece);
    if (n == -1) return Progress::NeedsBytes;
    if (n <= 0) return Progress::Failed;
    pending_.append(piece, static_cast<std::size_t>(n));
  }
  return Progress::Ready;
}

std::ptrdiff_t Connection::TakePending(char* out, std::size_t size) {
  if (!HasPending()) return -1;
  const std::size_t n = std::min(size, pending_.size() - pendingAt_);
  std::memcpy(out, pending_.data() + pendingAt_, n);
  pendingAt_ += n;
  return static_cast<std::ptrdiff_t>(n);
}

bool Connection::HasBytes() const { return HasPending() || (ssl_ && SSL_pending(ssl_.get()) > 0) || Readable(sock_); }

}  // namespace ostrel
