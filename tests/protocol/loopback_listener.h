#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/file_descriptor.h"

namespace callsink::test {

// A listening TCP socket on 127.0.0.1 with a port the system picked: the
// server side of transport tests. Owned by one test.
class LoopbackListener {
 public:
  explicit LoopbackListener(int backlog = 16);

  uint16_t port() const { return port_; }
  // Waits up to `timeout_ms` for a connection; an invalid FileDescriptor when none
  // came.
  FileDescriptor Accept(int timeout_ms = 5000);
  void Close() { socket_.Reset(); }

 private:
  FileDescriptor socket_;
  uint16_t port_ = 0;
};

// Blocking helpers on a connected socket; false / fewer bytes on failure.
bool WriteAll(int fd, std::span<const uint8_t> bytes);
// Reads up to `length` bytes, stopping early when the peer closes or nothing
// arrives for `timeout_ms`.
std::vector<uint8_t> ReadUpTo(int fd, size_t length, int timeout_ms = 5000);
// Sends each byte in its own TCP segment (Nagle off, a pause in between).
bool WriteByteBySegment(int fd, std::span<const uint8_t> bytes);
// Closes with a reset (RST) instead of an orderly shutdown.
void CloseWithReset(FileDescriptor& socket);

}  // namespace callsink::test
