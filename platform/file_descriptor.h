#pragma once

namespace callsink {

// Owns one file descriptor (socket, pipe end, file, eventfd, pidfd) and
// closes it exactly once: on Reset or when the owner goes away. Movable, not
// copyable, so no two owners can close the same number (which by then could
// belong to another thread's descriptor). Used by one thread at a time.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  // Takes ownership of `fd`; a negative value means no descriptor.
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor if one is held; afterwards valid() is false.
  // False when close() reported an error (errno says which), which for a
  // written file can mean lost data; the descriptor is gone all the same.
  // Otherwise errno is left as it was, also by the destructor.
  bool Reset();
  // Gives the descriptor up without closing it; afterwards valid() is false.
  int Release();

  // A pipe whose two ends close on exec. False (errno set) when none could
  // be made; both owners are then left as they were.
  static bool OpenPipe(FileDescriptor* read_end, FileDescriptor* write_end);

 private:
  int fd_ = -1;
};

}  // namespace callsink
