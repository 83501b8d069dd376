#include "store/history_retention.h"

#include <numeric>

namespace callsink {

HistoryRetention::HistoryRetention(AcdDatabase* database, ActivityLog* log, WorkerStats* stats,
                                   std::string server, uint32_t days)
    : database_(database), log_(log), stats_(stats), server_(std::move(server)), days_(days) {}

bool HistoryRetention::Due(Clock::time_point now) const {
  return days_ != 0 && (in_pass_ || now >= next_pass_);
}

bool HistoryRetention::Step(Clock::time_point now) {
  if (!in_pass_ && !Begin()) {
    End(now);
    return false;
  }
  const history::Table& table = history::kTables[table_];
  database_->Prepare(&statement_);
  history::AddExpiredChunkDelete(statement_, table, server_, expired_before_, kChunkRows);
  if (!database_->Send(statement_.text())) {
    log_->Write("Retention: deleting from %s failed: %s", table.name,
                database_->ErrorText().c_str());
    End(now);
    return false;
  }
  const uint64_t rows = database_->AffectedRows();
  deleted_[table_] += rows;
  if (stats_ != nullptr && rows != 0) stats_->CountRetentionDeleted(table.counted_as, rows);
  if (rows < kChunkRows && ++table_ == history::kTables.size()) End(now);
  return true;
}

bool HistoryRetention::Begin() {
  uint64_t acd_now = 0;
  if (!database_->ReadAcdClock(server_, &acd_now)) return false;
  const uint64_t period = uint64_t{days_} * 86400;
  // Nothing can be older than the period before the epoch.
  expired_before_ = acd_now > period ? acd_now - period : 0;
  in_pass_ = true;
  table_ = 0;
  deleted_.fill(0);
  return true;
}

void HistoryRetention::End(Clock::time_point now) {
  const uint64_t total = std::accumulate(deleted_.begin(), deleted_.end(), uint64_t{0});
  if (in_pass_ && total != 0) {
    static_assert(history::kTables.size() == 3);
    log_->Write("Retention: %llu rows older than %u days deleted (%s %llu, %s %llu, %s %llu)",
                static_cast<unsigned long long>(total), days_, history::kTables[0].name,
                static_cast<unsigned long long>(deleted_[0]), history::kTables[1].name,
                static_cast<unsigned long long>(deleted_[1]), history::kTables[2].name,
                static_cast<unsigned long long>(deleted_[2]));
  }
  in_pass_ = false;
  deleted_.fill(0);
  next_pass_ = now + kInterval;
}

}  // namespace callsink
