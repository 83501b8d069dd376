#include "platform/file_descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace callsink {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool FileDescriptor::Reset() {
  if (fd_ < 0) return true;
  // An owner that goes away on an error path must not change the errno its
  // caller is about to report.
  const int saved_errno = errno;
  // The descriptor is gone after close() even when it reports EINTR, so it
  // is never retried.
  const bool closed = close(std::exchange(fd_, -1)) == 0;
  if (closed) errno = saved_errno;
  return closed;
}

int FileDescriptor::Release() { return std::exchange(fd_, -1); }

bool FileDescriptor::OpenPipe(FileDescriptor* read_end, FileDescriptor* write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  *read_end = FileDescriptor(ends[0]);
  *write_end = FileDescriptor(ends[1]);
  return true;
}

}  // namespace callsink
