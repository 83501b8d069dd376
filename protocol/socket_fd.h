#pragma once

namespace callsink {

// Owns one socket file descriptor and closes it exactly once: on Reset or
// when the owner goes away. Movable, not copyable, so no two owners can close
// the same number (which by then could belong to another thread's socket).
class SocketFd {
 public:
  SocketFd() = default;
  // Takes ownership of `fd`; a negative value means no socket.
  explicit SocketFd(int fd) : fd_(fd) {}
  ~SocketFd() { Reset(); }
  SocketFd(const SocketFd&) = delete;
  SocketFd& operator=(const SocketFd&) = delete;
  SocketFd(SocketFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  SocketFd& operator=(SocketFd&& other) noexcept;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the socket if one is held; afterwards valid() is false.
  void Reset();

 private:
  int fd_ = -1;
};

}  // namespace callsink
