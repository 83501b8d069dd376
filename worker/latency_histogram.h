#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace callsink {

// Counts durations in milliseconds: one bucket per millisecond below
// kLinearMs, then one per power of two up to 2^kPowerBuckets * kLinearMs, the
// rest in the last bucket. Record takes no lock (relaxed atomics) and may
// race with readers, which see each count whole.
class LatencyHistogram {
 public:
  static constexpr uint64_t kLinearMs = 256;
  static constexpr size_t kPowerBuckets = 12;
  static constexpr size_t kBuckets = kLinearMs + kPowerBuckets + 1;

  void Record(uint64_t milliseconds);
  uint64_t count() const;
  // The smallest bucket bound (exclusive, in ms) that holds at least
  // `fraction` of the counts; 0 when nothing was recorded.
  uint64_t Quantile(double fraction) const;
  // Exclusive upper bound of bucket `i`, in ms.
  static uint64_t UpperBound(size_t i);

  std::array<std::atomic<uint64_t>, kBuckets> buckets{};
};

}  // namespace callsink
