#include "health/worker_stats.h"

#include <algorithm>
#include <bit>

namespace callsink {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

template <typename Source, typename Target>
void CopyAll(const Source& source, Target& target) {
  for (size_t i = 0; i < source.size(); ++i) target[i] = source[i].load(kRelaxed);
}

}  // namespace

void WorkerStats::CountEventAt(int64_t now_ms) {
  const int64_t second = now_ms / 1000;
  SecondSlot& slot = minute_[static_cast<size_t>(second) % kMinuteSlots];
  // The slot last held the same second a minute ago (or never): start it
  // again. Only the thread that reads the ACD link counts events.
  if (slot.second.load(kRelaxed) != second) {
    slot.events.store(0, kRelaxed);
    slot.second.store(second, kRelaxed);
  }
  slot.events.fetch_add(1, kRelaxed);
}

void WorkerStats::SetJournalBacklog(uint64_t entries, uint64_t bytes) {
  if constexpr (!kCountersBuilt) return;
  backlog_entries_.store(entries, kRelaxed);
  backlog_bytes_.store(bytes, kRelaxed);
  MarkJournal();
}

void WorkerStats::SetJournalCap(uint64_t bytes) {
  if constexpr (!kCountersBuilt) return;
  cap_bytes_.store(bytes, kRelaxed);
  MarkJournal();
}

void WorkerStats::SetJournalDamagedRecords(uint64_t records) {
  if constexpr (!kCountersBuilt) return;
  damaged_records_.store(records, kRelaxed);
  MarkJournal();
}

void WorkerStats::SetApplyLag(double seconds) {
  if constexpr (!kCountersBuilt) return;
  StoreDouble(apply_lag_bits_, seconds);
  MarkJournal();
}

void WorkerStats::ObserveApplyLatency(double seconds) {
  if constexpr (!kCountersBuilt) return;
  const auto bucket = static_cast<size_t>(
      std::lower_bound(kApplyLatencyBounds.begin(), kApplyLatencyBounds.end(), seconds) -
      kApplyLatencyBounds.begin());
  Add(latency_buckets_[bucket]);
  Add(latency_sum_us_, static_cast<uint64_t>(std::max(seconds, 0.0) * 1e6));
  MarkJournal();
}

void WorkerStats::StoreDouble(std::atomic<uint64_t>& target, double value) {
  target.store(std::bit_cast<uint64_t>(value), kRelaxed);
}

double WorkerStats::LoadDouble(const std::atomic<uint64_t>& source) {
  return std::bit_cast<double>(source.load(kRelaxed));
}

WorkerStats::Snapshot WorkerStats::Read() const {
  Snapshot s;
  for (size_t c = 0; c < kClassCount; ++c) CopyAll(messages_[c], s.messages[c]);
  s.other_messages = other_messages_.load(kRelaxed);
  const int64_t this_second = NowMs() / 1000;
  for (const SecondSlot& slot : minute_) {
    const int64_t second = slot.second.load(kRelaxed);
    if (second > this_second - static_cast<int64_t>(kMinuteSlots) && second <= this_second) {
      s.events_last_minute += slot.events.load(kRelaxed);
    }
  }
  CopyAll(rows_, s.rows);
  CopyAll(retention_deleted_, s.retention_deleted);
  s.failed_statements = failed_statements_.load(kRelaxed);
  CopyAll(connects_, s.connects);
  CopyAll(losses_, s.losses);
  CopyAll(retries_, s.retries);
  CopyAll(link_up_, s.link_up);
  s.last_message_ms = last_message_ms_.load(kRelaxed);
  s.last_commit_ms = last_commit_ms_.load(kRelaxed);

  s.journal = journal_.load(kRelaxed);
  s.backlog_entries = backlog_entries_.load(kRelaxed);
  s.backlog_bytes = backlog_bytes_.load(kRelaxed);
  s.cap_bytes = cap_bytes_.load(kRelaxed);
  s.damaged_records = damaged_records_.load(kRelaxed);
  s.apply_lag_seconds = LoadDouble(apply_lag_bits_);
  CopyAll(latency_buckets_, s.latency_buckets);
  // The count is the buckets' sum, so that the histogram reads consistent
  // even while an observation is under way.
  for (const uint64_t count : s.latency_buckets) s.latency_count += count;
  s.latency_sum_seconds = static_cast<double>(latency_sum_us_.load(kRelaxed)) / 1e6;
  for (size_t t = 0; t < kTableCount; ++t) s.id_used[t] = LoadDouble(id_used_bits_[t]);
  s.database_tls = database_tls_.load(kRelaxed);
  s.database_certificate_end = database_certificate_end_.load(kRelaxed);
  return s;
}

}  // namespace callsink
