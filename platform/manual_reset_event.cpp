#include "platform/manual_reset_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>

namespace callsink {

ManualResetEvent::ManualResetEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Without the descriptor no wait could ever end; there is nothing sane to
  // fall back to.
  if (!fd_.valid()) std::abort();
}

ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() {
  if (set_.exchange(true)) return;
  // The counter is never read back, so it stays non-zero and the descriptor
  // stays readable for every later poll.
  const uint64_t one = 1;
  ssize_t written;
  do {
    written = write(fd_.get(), &one, sizeof one);
  } while (written < 0 && errno == EINTR);
}

bool ManualResetEvent::IsSet() const { return set_.load(); }

bool ManualResetEvent::Wait(int timeout_ms) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (IsSet()) return true;
    int remaining = -1;
    if (timeout_ms >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return IsSet();
      remaining = static_cast<int>(left);
    }
    pollfd pfd{fd_.get(), POLLIN, 0};
    const int ready = poll(&pfd, 1, remaining);
    if (ready > 0) return true;
    if (ready == 0) return IsSet();
    // EINTR: a signal arrived (perhaps the one that sets us); look again.
  }
}

}  // namespace callsink
