#pragma once

#include <atomic>
#include <cstdint>

#include "worker/latency_histogram.h"

namespace callsink {

// What one worker has done, counted by its reader and applier without
// locks (relaxed atomics) for anyone who reads figures. The journal's own
// figures (durable and applied sequence, bytes) are the journal's.
struct WorkerStats {
  // Reader.
  std::atomic<uint64_t> messages_received{0};
  std::atomic<int64_t> last_received_us{0};
  // Applier.
  std::atomic<uint64_t> entries_applied{0};
  std::atomic<uint64_t> batches_committed{0};
  // Batches applied one statement at a time (a refused statement, a name
  // the membership cache cannot answer for).
  std::atomic<uint64_t> batches_by_statement{0};
  std::atomic<uint64_t> database_outages{0};
  std::atomic<int64_t> last_commit_us{0};
  // Receipt to commit, per entry applied.
  LatencyHistogram apply_latency;
};

}  // namespace callsink
