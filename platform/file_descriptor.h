#pragma once

namespace callsink {

// Owns one socket file descriptor and closes it exactly once: on Reset or
// when the owner goes away. Movable, not copyable, so no two owners can close
// the same number (which by then could belong to another thread's socket).
class FileDescriptor {
 public:
  FileDescriptor() = default;
  // Takes ownership of `fd`; a negative value means no socket.
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the socket if one is held; afterwards valid() is false.
  void Reset();

 private:
  int fd_ = -1;
};

}  // namespace callsink
