#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/activity_log.h"
#include "store/acd_batch.h"
#include "store/acd_database.h"
#include "store/history_retention.h"
#include "store/membership_cache.h"
#include "worker/journal_cursor.h"
#include "worker/message_dispatch.h"
#include "worker/store_writer.h"
#include "worker/worker_parts.h"

namespace callsink {

// The database half of a worker: owns the connection to acd_db and applies
// the journal to it, in order, through the same handlers and statement
// texts as a message that is written at once, many messages to one
// transaction. Each batch commits together with the journal position it
// reaches (table journal_position, one row per server), so after any
// failure the applier goes on from the committed position: no row is
// written twice and no journaled message is left out.
//
// Connecting (retried every 10 s, the handle closed after each failed try,
// so that every try is a fresh session) sets the database letter of the
// state to "Y", losing the connection sets it to "N". A failure that time
// may cure (a lost or hung connection, a full table or disk, a lock wait
// timeout, a deadlock or refused commit, a read-only server, a missing
// table) keeps the batch in the journal, is said once per outage and tried
// again, at once and then every 10 s: on the same session when the server
// only refused the batch for now (mysql_errors::KeepsSession), on a new
// connection otherwise. A statement the server refuses for its values is
// logged and left out: the batch is then applied again one statement at a
// time.
//
// With a retention period it also deletes the server's expired history,
// one chunk between two batches (HistoryRetention).
//
// Runs on a thread of its own; shares the journal, the state, the log and
// the stats with the worker's reader.
class JournalApplier {
 public:
  explicit JournalApplier(const WorkerParts& parts);
  JournalApplier(const JournalApplier&) = delete;
  JournalApplier& operator=(const JournalApplier&) = delete;

  // Applies until the close event is set.
  void Run();

  // Sees the text of every statement the applier sends (for benchmarks and
  // diagnostics); set before Run.
  void SetStatementObserver(AcdDatabase::StatementObserver observer) {
    database_.SetStatementObserver(std::move(observer));
  }

  // Batches committed, and those of them applied one statement at a time
  // (a refused statement, a name the membership cache cannot answer for);
  // any thread.
  uint64_t batches_committed() const { return batches_committed_.load(std::memory_order_relaxed); }
  uint64_t batches_by_statement() const {
    return batches_by_statement_.load(std::memory_order_relaxed);
  }

 private:
  // A journal record held for the batch; its payload in held_bytes_.
  struct Held {
    uint64_t sequence;
    journal::EntryKind kind;
    int64_t received_us;
    size_t offset;
    size_t length;
  };
  enum class Outcome { kCommitted, kFailed };

  // Connects, makes the tables, finds where to go on; false (logged) when
  // the database cannot be used yet.
  bool Prepare();
  // Before the next try: none after the first failure of an outage, 10 s
  // otherwise; false when the close event is set.
  bool Pause();
  // The position to go on from: the journal's or acd_db's, whichever is
  // later and counts in this journal.
  uint64_t Reconcile(const JournalPosition& stored);
  // Applies batches until the close event (true) or a failure (false).
  bool ApplyUntilFailure();
  // Logs and serves how far each table's ID range is used.
  void WatchIdRanges();
  bool ReadBatch();
  Outcome ApplyBatch();
  Outcome ApplyFolded();
  Outcome ApplyByStatement();
  // Handles one held record through `dispatch` (or clears the directory).
  template <typename Store>
  void Replay(const Held& held, Store& store, MessageDispatch& dispatch);
  // Sends the position and commits; false on failure.
  bool CommitBatch();
  // Rolls the transaction back, keeping the failure's code and text.
  void RollBack();
  // Says, once per outage, that writes stopped.
  Outcome Outage();
  Outcome Fail();
  // After a commit: the position, the journal's mark and the figures.
  void Committed();

  const WorkerParts parts_;

  AcdDatabase database_;
  MembershipCache cache_;
  AcdBatch batch_;
  BatchWriter batch_writer_;
  // Lines about the messages are the reader's; an unopened log takes none.
  ActivityLog quiet_;
  MessageDispatch batch_dispatch_;
  JournalCursor cursor_;
  // The server's expired history, a chunk between two batches.
  HistoryRetention retention_;

  uint64_t position_ = 0;
  std::vector<Held> held_;
  std::vector<uint8_t> held_bytes_;
  int64_t batch_started_us_ = 0;
  std::chrono::steady_clock::time_point id_ranges_watched_at_;
  unsigned int failure_ = 0;
  std::string failure_text_;
  bool in_outage_ = false;
  bool deadlock_retried_ = false;
  bool retry_at_once_ = false;
  std::atomic<uint64_t> batches_committed_{0};
  std::atomic<uint64_t> batches_by_statement_{0};
};

}  // namespace callsink
