#pragma once

#include <atomic>

#include "platform/file_descriptor.h"

namespace callsink {

// A process-local event that starts unset and, once Set, stays set for good.
// Any thread may call any method; Set is async-signal-safe, so a signal
// handler may call it directly. The file descriptor becomes readable once the
// event is set, so a blocking poll() on a socket can include it.
class ManualResetEvent {
 public:
  ManualResetEvent();
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  bool IsSet() const;
  // Waits up to timeout_ms (negative: no limit). Returns true when the event
  // is set, false on timeout.
  bool Wait(int timeout_ms) const;
  // Readable (POLLIN) once the event is set; owned by the event.
  int fd() const { return fd_.get(); }

 private:
  std::atomic<bool> set_{false};
  const FileDescriptor fd_;
};

}  // namespace callsink
