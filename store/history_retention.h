#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "store/history_tables.h"

namespace callsink {

// Keeps a server's history no longer than its retention period: deletes
// the server's rows of the history tables that ended more than `days` days
// ago by the ACD server's clock (stock_time's difference to the database's
// clock), a chunk of at most kChunkRows rows at a time, each chunk its own
// transaction. A pass runs at once and then kInterval after the last one
// ended, one chunk per Step, so that the caller interleaves its own writes
// between the chunks and none waits for more than one.
//
// Rows of other servers are never touched; a pass that deleted something
// logs "Retention: <n> rows older than <d> days deleted (stock_status <a>,
// stock_cdr <b>, stock_calls <c>)", and every chunk counts into the stats.
// A failed chunk ends the pass with a line saying why (its failure stays
// on the store for the caller); the next one comes kInterval later.
//
// Owned and used by the thread that owns the store (the worker's applier);
// the store, the log and the stats must outlive it.
class HistoryRetention {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr uint64_t kChunkRows = 5000;
  static constexpr std::chrono::minutes kInterval{10};

  // `days` 0: retention is off, and Due is never true.
  HistoryRetention(AcdDatabase* database, ActivityLog* log, WorkerStats* stats, std::string server,
                   uint32_t days);
  HistoryRetention(const HistoryRetention&) = delete;
  HistoryRetention& operator=(const HistoryRetention&) = delete;

  // A pass is under way, or the next one is due at `now`.
  bool Due(Clock::time_point now) const;
  // Deletes the next chunk of the pass, beginning one when none is under
  // way; false when the store failed.
  bool Step(Clock::time_point now);

 private:
  bool Begin();
  void End(Clock::time_point now);

  AcdDatabase* const database_;
  ActivityLog* const log_;
  WorkerStats* const stats_;
  const std::string server_;
  const uint32_t days_;
  SqlStatement statement_;
  Clock::time_point next_pass_{};
  bool in_pass_ = false;
  size_t table_ = 0;
  // Rows ending before this (ACD server's clock) have expired.
  uint64_t expired_before_ = 0;
  std::array<uint64_t, history::kTables.size()> deleted_{};
};

}  // namespace callsink
