#include "worker/latency_histogram.h"

#include <bit>

namespace callsink {

uint64_t LatencyHistogram::UpperBound(size_t i) {
  if (i < kLinearMs) return i + 1;
  return kLinearMs << (i - kLinearMs + 1);
}

void LatencyHistogram::Record(uint64_t milliseconds) {
  size_t bucket = kBuckets - 1;
  if (milliseconds < kLinearMs) {
    bucket = milliseconds;
  } else {
    const size_t power = static_cast<size_t>(std::bit_width(milliseconds / kLinearMs)) - 1;
    if (power < kPowerBuckets) bucket = kLinearMs + power;
  }
  buckets[bucket].fetch_add(1, std::memory_order_relaxed);
}

uint64_t LatencyHistogram::count() const {
  uint64_t total = 0;
  for (const auto& bucket : buckets) total += bucket.load(std::memory_order_relaxed);
  return total;
}

uint64_t LatencyHistogram::Quantile(double fraction) const {
  const uint64_t total = count();
  if (total == 0) return 0;
  const double wanted = fraction * static_cast<double>(total);
  uint64_t seen = 0;
  for (size_t i = 0; i < kBuckets; ++i) {
    seen += buckets[i].load(std::memory_order_relaxed);
    if (static_cast<double>(seen) >= wanted) return UpperBound(i);
  }
  return UpperBound(kBuckets - 1);
}

}  // namespace callsink
