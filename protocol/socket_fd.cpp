#include "protocol/socket_fd.h"

#include <unistd.h>

namespace callsink {

SocketFd& SocketFd::operator=(SocketFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void SocketFd::Reset() {
  if (fd_ < 0) return;
  // The descriptor is gone after close() even when it reports EINTR, so it
  // is never retried.
  close(fd_);
  fd_ = -1;
}

}  // namespace callsink
