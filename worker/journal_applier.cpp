#include "worker/journal_applier.h"

#include <mysqld_error.h>

#include <algorithm>
#include <chrono>
#include <span>

#include "health/worker_stats.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_header.h"
#include "store/mysql_errors.h"
#include "worker/journal.h"
#include "worker/link_state.h"

namespace callsink {
namespace {

double SecondsBetween(int64_t from_us, int64_t to_us) {
  return static_cast<double>(std::max<int64_t>(0, to_us - from_us)) / 1e6;
}

unsigned long long Number(uint64_t value) { return static_cast<unsigned long long>(value); }

}  // namespace

JournalApplier::JournalApplier(const WorkerParts& parts)
    : parts_(parts),
      database_(parts.log),
      batch_(&database_, &cache_),
      batch_writer_(&batch_),
      batch_dispatch_(parts.config.acdServer, &quiet_, nullptr, &batch_writer_),
      cursor_(parts.journal),
      retention_(&database_, parts.log, parts.stats, parts.config.acdServer,
                 parts.config.retentionDays) {
  database_.CountInto(parts.stats);
}

void JournalApplier::Run() {
  position_ = parts_.journal->applied();
  parts_.journal->ReportBacklog(parts_.stats);
  bool connected = false;
  while (!parts_.close_event->IsSet()) {
    if (!connected) {
      connected = Prepare();
      if (!connected) {
        // Every try is a fresh session: a server that went away, or a
        // right granted meanwhile, is only seen by a new connection.
        database_.Close();
        parts_.stats->CountRetry(WorkerStats::Link::kDatabase);
        if (!Pause()) break;
        continue;
      }
      parts_.stats->CountConnect(WorkerStats::Link::kDatabase);
      parts_.state->SetDatabase(true);
    }
    if (ApplyUntilFailure()) break;
    cursor_.Seek(position_);
    if (!mysql_errors::KeepsSession(failure_)) {
      connected = false;
      parts_.stats->CountLoss(WorkerStats::Link::kDatabase);
      parts_.state->SetDatabase(false);
      database_.Close();
    }
    if (!Pause()) break;
  }
  database_.Close();
}

bool JournalApplier::Pause() {
  if (std::exchange(retry_at_once_, false)) return !parts_.close_event->IsSet();
  return !parts_.close_event->Wait(parts_.options->retry_interval_ms);
}

bool JournalApplier::Prepare() {
  if (!database_.Connect(parts_.config.mysqlServer, parts_.config.mysqlUser,
                         parts_.config.mysqlPassword, parts_.config.databaseTls) ||
      !database_.CreateTables()) {
    return false;
  }
  database_.UpgradeAgentsTable();
  database_.AddHistoryIndexes();
  WatchIdRanges();
  std::string tables;
  if (database_.ListTablesWithoutTransactions(&tables) && !tables.empty()) {
    parts_.log->Write(
        "Tables without transactions: %s; a batch cut short by a failure may be applied "
        "twice",
        tables.c_str());
  }
  JournalPosition stored;
  if (!database_.ReadPosition(parts_.config.acdServer, &stored)) {
    RollBack();
    Outage();
    return false;
  }
  position_ = Reconcile(stored);
  cursor_.Seek(position_);
  cache_.Invalidate();
  database_.TakeFailure();
  return true;
}

uint64_t JournalApplier::Reconcile(const JournalPosition& stored) {
  const uint64_t local = std::max(position_, parts_.journal->applied());
  if (stored.found && stored.journal == parts_.journal->identity() && stored.sequence >= local) {
    // Committed, though the answer may have been lost on the way.
    if (stored.sequence > local) parts_.journal->MarkApplied(stored.sequence);
    return stored.sequence;
  }
  if (!stored.found && local == 0) return local;
  // The row went with deleted data, or counts in a journal that is gone:
  // what this journal applied stays applied.
  parts_.log->Write(
      "Journal position %llu of journal %016llx in acd_db, %llu here: going on after %llu",
      Number(stored.sequence), Number(stored.journal), Number(local), Number(local));
  return local;
}

bool JournalApplier::ApplyUntilFailure() {
  for (;;) {
    if (parts_.close_event->IsSet()) return true;
    if (std::chrono::steady_clock::now() - id_ranges_watched_at_ >=
        parts_.options->id_range_watch_interval) {
      WatchIdRanges();
    }
    // Expired rows go a chunk at a time: a batch waits for one at most.
    const auto now = std::chrono::steady_clock::now();
    if (retention_.Due(now) && !retention_.Step(now)) database_.TakeFailure();
    const bool deleting = retention_.Due(now);
    if (!parts_.journal->WaitBeyond(position_, deleting ? 0 : 100)) continue;
    if (!ReadBatch()) {
      // Durable records that do not read back (logged by the cursor): wait
      // for the writer to move on rather than spin.
      parts_.close_event->Wait(100);
      continue;
    }
    if (ApplyBatch() == Outcome::kFailed) return false;
  }
}

void JournalApplier::WatchIdRanges() {
  database_.WatchIdRanges();
  id_ranges_watched_at_ = std::chrono::steady_clock::now();
}

bool JournalApplier::ReadBatch() {
  held_.clear();
  held_bytes_.clear();
  JournalEntry entry;
  while (held_.size() < parts_.options->batch_entries &&
         held_bytes_.size() < parts_.options->batch_bytes && cursor_.Next(&entry)) {
    held_.push_back(
        {entry.sequence, entry.kind, entry.received_us, held_bytes_.size(), entry.payload.size()});
    held_bytes_.insert(held_bytes_.end(), entry.payload.begin(), entry.payload.end());
  }
  return !held_.empty();
}

JournalApplier::Outcome JournalApplier::ApplyBatch() {
  batch_started_us_ = parts_.options->now_us();
  if (!database_.Begin()) return Fail();
  // A cache that may no longer agree with the table (the server's rows
  // deleted meanwhile) is loaded again, inside the batch's transaction.
  size_t memberships = 0;
  const bool agrees = cache_.loaded() &&
                      database_.CountMemberships(parts_.config.acdServer, &memberships) &&
                      memberships == cache_.size();
  if (!agrees && !database_.LoadMemberships(parts_.config.acdServer, &cache_)) return Fail();
  if (!cache_.exact()) return ApplyByStatement();
  return ApplyFolded();
}

template <typename Store>
void JournalApplier::Replay(const Held& held, Store& store, MessageDispatch& dispatch) {
  const int64_t age_us = std::max<int64_t>(0, batch_started_us_ - held.received_us);
  store.SetReceiptAge(static_cast<uint32_t>((age_us + 500000) / 1000000));
  if (held.kind == journal::EntryKind::kPassStart) {
    store.ClearServer(parts_.config.acdServer);
    return;
  }
  const uint8_t* bytes = held_bytes_.data() + held.offset;
  // The reader journaled only whole messages whose length it checked.
  if (held.length < wire::kHeaderSize) return;
  const AcdHeader header =
      HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(bytes, wire::kHeaderSize));
  dispatch.Handle(header, bytes + wire::kHeaderSize, held.length - wire::kHeaderSize,
                  static_cast<uint32_t>(held.received_us / 1000000));
}

JournalApplier::Outcome JournalApplier::ApplyFolded() {
  batch_.Begin();
  for (const Held& held : held_) {
    Replay(held, batch_, batch_dispatch_);
    if (batch_.stopped()) break;
  }
  if (batch_.Finish() && CommitBatch()) {
    cache_.Keep();
    Committed();
    return Outcome::kCommitted;
  }
  const bool needs_table = batch_.needs_table();
  RollBack();
  cache_.Undo();
  if (!needs_table && !mysql_errors::RefusesStatement(failure_)) return Outage();
  // A refused value is found and left out one statement at a time; a name
  // the cache cannot answer for is looked up in the table.
  if (!database_.Begin()) return Fail();
  return ApplyByStatement();
}

JournalApplier::Outcome JournalApplier::ApplyByStatement() {
  batches_by_statement_.fetch_add(1, std::memory_order_relaxed);
  DatabaseWriter writer(&database_);
  MessageDispatch dispatch(parts_.config.acdServer, &quiet_, nullptr, &writer);
  for (const Held& held : held_) {
    Replay(held, database_, dispatch);
    const unsigned int failure = database_.TakeFailure();
    if (failure != 0 && !mysql_errors::RefusesStatement(failure)) {
      database_.SetReceiptAge(0);
      failure_ = failure;
      failure_text_ = database_.ErrorText();
      database_.Rollback();
      return Outage();
    }
  }
  database_.SetReceiptAge(0);
  // The cache followed none of this; it is loaded again for the next batch.
  cache_.Invalidate();
  if (!CommitBatch()) return Fail();
  Committed();
  return Outcome::kCommitted;
}

bool JournalApplier::CommitBatch() {
  return database_.WritePosition(parts_.config.acdServer, parts_.journal->identity(),
                                 held_.back().sequence) &&
         database_.Commit();
}

void JournalApplier::RollBack() {
  failure_ = database_.TakeFailure();
  failure_text_ = database_.ErrorText();
  database_.Rollback();
}

JournalApplier::Outcome JournalApplier::Outage() {
  // A deadlock (or a commit a cluster refused) usually passes with an
  // immediate retry, and is no outage until that fails too.
  if (!in_outage_ && !deadlock_retried_ && failure_ == ER_LOCK_DEADLOCK) {
    deadlock_retried_ = true;
    retry_at_once_ = true;
    return Outcome::kFailed;
  }
  if (!in_outage_) {
    in_outage_ = true;
    retry_at_once_ = true;
    parts_.log->Write("Database writes stopped (%u: %s): %llu journaled messages wait, retrying",
                      failure_, failure_text_.c_str(),
                      Number(parts_.journal->durable() - position_));
  }
  return Outcome::kFailed;
}

JournalApplier::Outcome JournalApplier::Fail() {
  RollBack();
  return Outage();
}

void JournalApplier::Committed() {
  position_ = held_.back().sequence;
  parts_.journal->MarkApplied(position_);
  in_outage_ = false;
  deadlock_retried_ = false;
  const int64_t now_us = parts_.options->now_us();
  for (const Held& held : held_)
    parts_.stats->ObserveApplyLatency(SecondsBetween(held.received_us, now_us));
  parts_.stats->SetApplyLag(SecondsBetween(held_.back().received_us, now_us));
  parts_.journal->ReportBacklog(parts_.stats);
  batches_committed_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace callsink
