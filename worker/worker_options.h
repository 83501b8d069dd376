#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace callsink {

// How a worker paces its work, written once: the defaults are what the
// collector runs with; tests and benchmarks shorten the waits or drive the
// clock.
struct WorkerOptions {
  // Between two connect attempts, and between two passes.
  int retry_interval_ms = 10000;
  // The reader commits its journal group at this many messages, or this
  // long after the oldest one at the latest.
  size_t group_entries = 256;
  int64_t group_ms = 50;
  // The applier's batch holds at most so many records and payload bytes.
  size_t batch_entries = 2000;
  size_t batch_bytes = 1024 * 1024;
  // How often the applier reads the tables' ID ranges again between
  // batches (and at each connect).
  std::chrono::milliseconds id_range_watch_interval = std::chrono::hours(1);
  // The collector's clock: microseconds since 1970, for receive and commit
  // times.
  std::function<int64_t()> now_us = SystemNowUs;

  static int64_t SystemNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  static const WorkerOptions& Defaults() {
    static const WorkerOptions defaults;
    return defaults;
  }
};

}  // namespace callsink
