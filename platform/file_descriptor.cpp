#include "platform/file_descriptor.h"

#include <unistd.h>

namespace callsink {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void FileDescriptor::Reset() {
  if (fd_ < 0) return;
  // The descriptor is gone after close() even when it reports EINTR, so it
  // is never retried.
  close(fd_);
  fd_ = -1;
}

}  // namespace callsink
