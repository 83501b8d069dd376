#pragma once

#include <cstdint>

namespace callsink {

// The running process's own figures, as exporters usually serve them
// (process_cpu_seconds_total, process_resident_memory_bytes, ...), read from
// /proc. A figure that cannot be read stays 0.
struct ProcessFigures {
  double cpu_seconds = 0;         // user and system time
  double start_time_seconds = 0;  // since 1970
  uint64_t resident_bytes = 0;
  uint64_t virtual_bytes = 0;
  uint64_t open_fds = 0;
  uint64_t max_fds = 0;  // the soft limit

  // Any thread.
  static ProcessFigures Read();
};

}  // namespace callsink
