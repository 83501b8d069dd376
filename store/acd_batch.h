#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/sql_statement.h"

namespace callsink {

class AcdDatabase;
class MembershipCache;

// The writes of many messages as few statements, inside one transaction of
// the caller's. Takes the writer calls of AcdDatabase, with the same
// arguments and the same effect on the tables, but folds the consecutive
// rows of one table and one statement form into one multi-row statement,
// sends stock_time only for the last time of the batch, and decides status
// intervals on the MembershipCache instead of a select. A run of one row
// goes out as exactly the text the one-row writer sends.
//
// Once a statement has failed, or a name turned up that the cache cannot
// answer for, the batch takes no more writes: the caller rolls back and
// applies the messages one statement at a time instead.
//
// Used by the thread that owns the store; the store is connected and, like
// the cache, outlives the batch.
class AcdBatch {
 public:
  // A statement is closed once it is this long; far below the server's
  // packet limit.
  static constexpr size_t kMaxStatementBytes = 512 * 1024;

  AcdBatch(AcdDatabase* database, MembershipCache* cache);
  AcdBatch(const AcdBatch&) = delete;
  AcdBatch& operator=(const AcdBatch&) = delete;

  // Starts an empty batch.
  void Begin();
  // The age of the writes that follow, for stock_time (AcdDatabase's).
  void SetReceiptAge(uint32_t seconds) { receipt_age_ = seconds; }

  // AcdDatabase's writers, by effect.
  void WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                  int32_t state, bool modified, int32_t calls_in_queue);
  void WriteAgent(std::string_view server, std::string_view agent, std::string_view full_name,
                  uint32_t timestamp, int32_t state, bool modified);
  void WriteRelation(std::string_view server, std::string_view group, std::string_view agent,
                     uint32_t timestamp, int32_t state, bool modified);
  void WriteStatusInterval(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status);
  void WriteRelationStatus(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status);
  void WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                std::string_view caller_user, std::string_view call_guid, uint32_t timestamp,
                int32_t call_duration, int32_t call_state, int32_t close_reason,
                int32_t queue_duration);
  void WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                 std::string_view call_id, uint32_t timestamp, int32_t call_state,
                 int32_t close_reason);
  // The directory clear of a new pass (AcdDatabase::ClearServer).
  void ClearServer(std::string_view server);

  // Sends what is still open; false when any statement of the batch failed.
  bool Finish();
  // The batch takes no more writes: a statement failed (the store keeps
  // its code) or a name needs the table.
  bool stopped() const { return failed_ || needs_table_; }
  bool needs_table() const { return needs_table_; }

 private:
  // The statement forms; each table's rows are folded while the form stays.
  enum class Form {
    kGroupCounted,
    kGroupUncounted,
    kAgentCounted,
    kAgentUncounted,
    kMembershipCounted,
    kMembershipUncounted,
    kMembershipStatus,
    kInterval,
    kCdr,
    kCall,
  };
  enum Table { kGroups, kAgents, kRelations, kIntervals, kCdrs, kCalls, kTableCount };
  // One table's open statement, and the first row's own update values for
  // a run that stays one row long.
  struct Run {
    SqlStatement text;
    Form form = Form::kGroupCounted;
    size_t rows = 0;
    uint32_t timestamp = 0;
    int32_t value = 0;  // state, or status for kMembershipStatus
    int32_t calls_in_queue = 0;
    std::string full_name;
  };

  // The statement to add a row of `form` to: ends the table's run when its
  // form differs or it is long enough, then starts one or adds a separator.
  SqlStatement& Row(Form form);
  void Close(Run& run);
  void CloseAll();
  bool Send(std::string_view text);
  // The server and time of a write that records stock_time.
  void NoteTime(std::string_view server, uint32_t timestamp);
  // Keeps a row's own update values in its table's run, for a run that
  // stays one row long.
  Run& KeepUpdate(Table table, uint32_t timestamp, int32_t value);

  AcdDatabase* const database_;
  MembershipCache* const cache_;
  std::array<Run, kTableCount> runs_;
  SqlStatement single_;  // statements that are never folded
  // The last time of the batch to record, as WriteTimeDiff would.
  std::optional<uint64_t> time_;
  std::string server_;
  uint32_t receipt_age_ = 0;
  bool failed_ = false;
  bool needs_table_ = false;
};

}  // namespace callsink
