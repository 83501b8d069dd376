#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "store/history_tables.h"
#include "store/mysql_connection.h"
#include "store/mysql_result.h"
#include "store/sql_statement.h"

namespace callsink {

class MembershipCache;

// Where a server's applier stands in its journal, as acd_db holds it.
struct JournalPosition {
  bool found = false;     // the server has a row
  uint64_t journal = 0;   // identity of the journal the position counts in
  uint64_t sequence = 0;  // the last record whose rows are committed
};

// One worker's way into the statistics database `acd_db`: connects to the
// MySQL/MariaDB server, makes sure the database, its seven tables and the
// journal's position table exist, removes the directory rows of this ACD
// server when a new pass of it begins, and turns directory data and events
// into rows, one statement at a time (AcdBatch folds many into few).
//
// Owned and used by one thread (the worker's applier) from Connect until it
// is closed or destroyed.
// Writes its failures as lines into the worker's log, which it does not own
// and which must outlive it. Destroying the store closes its connection.
//
// Text values are escaped and sent between double quotes, so any bytes are
// stored as given. The connection talks latin1: every byte is one character
// there, so an 8-bit name in any code page (or UTF-8) is stored and reads back
// byte for byte over a latin1 connection, while the tables keep the server's
// default character set. Every call to the server is bounded in time (see
// MySqlConnection::Open); the client library never reconnects by itself.
//
// Bool results: true on success; on failure the line given for the case has
// been written to the log before the operation returns. The writers need a
// connected store; without a connection they return false and send nothing.
class AcdDatabase {
 public:
  // A store that is not connected. `log` is the worker's, not owned.
  explicit AcdDatabase(ActivityLog* log,
                       const MySqlTimeouts& timeouts = MySqlConnection::kDefaultTimeouts);
  ~AcdDatabase();
  AcdDatabase(const AcdDatabase&) = delete;
  AcdDatabase& operator=(const AcdDatabase&) = delete;

  bool IsConnected() const { return static_cast<bool>(connection_); }

  // Sees the text of every statement just before it goes to the server, on
  // the store's thread (for tests and diagnostics; empty: none). The text is
  // valid during the call only.
  using StatementObserver = std::function<void(std::string_view statement)>;
  void SetStatementObserver(StatementObserver observer) { observer_ = std::move(observer); }

  // Counts into `stats` (the worker's; null: nothing counted) the rows each
  // writer's statements write, per table, and every statement the server
  // refuses. Rows written inside a transaction count when it commits, and
  // not at all when it is rolled back.
  void CountInto(WorkerStats* stats) { stats_ = stats; }
  // `rows` rows of `table` written by a statement built elsewhere (AcdBatch).
  void CountRows(WorkerStats::Table table, uint64_t rows);

  // Connection and schema.

  // Connects (port 0 and no socket: the client library's defaults), its
  // link protected as `tls` says (MySqlConnection::Open), and selects
  // `acd_db`, creating it when missing. True at once, sending nothing, when
  // already connected. Logs "Connected to database (<host>)", or "Connect to
  // DB failed: <reason>" and stays not connected. A new session sets the
  // link's TLS figures in the stats given to CountInto.
  bool Connect(const std::string& host, const std::string& user, const std::string& password,
               const DatabaseTlsSetting& tls = {});
  // Creates the seven tables when missing, in a fixed order, then the
  // journal's position table. At the first table that cannot be created it
  // calls ReportTableFailure and returns false. Any failure closes the
  // connection: the next Connect opens a fresh session, so a retry reaches a
  // restarted server and sees rights granted since.
  bool CreateTables();
  // Each sends one "create table IF NOT EXISTS" statement; nothing logged.
  bool CreateGroupsTable();
  bool CreateAgentsTable();
  bool CreateRelationsTable();
  bool CreateStatusTable();
  bool CreateCdrTable();
  bool CreateCallsTable();
  bool CreateTimeTable();
  bool CreatePositionTable();
  // Logs "Table creation failed: <server's text>". Never drops a table.
  void ReportTableFailure(std::string_view table);
  // Deletes the server's rows from stock_groups, stock_agents and
  // stock_relations, stopping at the first failure; nothing logged.
  bool ClearServer(std::string_view server);
  // Adds stock_agents.Agent_FullName when the table lacks it; a failed ALTER
  // logs the server's text alone. Does nothing when not connected.
  void UpgradeAgentsTable();
  // Adds to the history tables the indexes they lack (history::kIndexes),
  // each to a table of at most `max_rows` rows; an index another collector
  // added meanwhile is success. A larger table is left alone and logged:
  // "Table <name> has <n> rows and no index on (<columns>): ...". A failed
  // ALTER logs the server's text. Does nothing when not connected.
  void AddHistoryIndexes(uint64_t max_rows = history::kMaxRowsIndexedByCollector);
  // Reads from the server's catalogue how far each table's auto-increment
  // ID has come through its column's range, into the counters. A table at
  // 75% or more is logged, and again at each further percent. Only reads
  // (the statement observer does not see it); nothing when not connected.
  void WatchIdRanges();
  // True when the server answers. Otherwise logs "MySQL server has gone
  // away!" and closes: the store is not connected afterwards.
  bool Ping();
  void Close();

  // "table (engine)" for each of the store's tables whose engine has no
  // transactions, comma-separated; empty when all have. Nothing logged.
  bool ListTablesWithoutTransactions(std::string* tables);

  // Transactions, for writes applied in batches. Nothing logged; a failure
  // is kept for TakeFailure.
  bool Begin();
  bool Commit();
  void Rollback();
  // The journal position of `server`; `found` false when it has no row.
  bool ReadPosition(std::string_view server, JournalPosition* position);
  bool WritePosition(std::string_view server, uint64_t journal, uint64_t sequence);
  // The ACD server's clock now, in seconds: the database server's clock
  // minus the difference stock_time holds for `server` (none: the
  // database's clock).
  bool ReadAcdClock(std::string_view server, uint64_t* now);
  // The server's memberships: how many, and all of them into `cache`
  // (invalidated first, loaded on success).
  bool CountMemberships(std::string_view server, size_t* count);
  bool LoadMemberships(std::string_view server, MembershipCache* cache);

  // Directory writers: insert or update one row, then WriteTimeDiff. False
  // when the statement failed (server's text logged, no WriteTimeDiff),
  // otherwise WriteTimeDiff's result. `modified` says whether an update of
  // an existing row counts in its Modified column.
  bool WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                  int32_t state, bool modified, int32_t calls_in_queue);
  bool WriteAgent(std::string_view server, std::string_view agent, std::string_view full_name,
                  uint32_t timestamp, int32_t state, bool modified);
  // An empty `agent` updates every membership of the group (and always
  // counts in Modified) instead of writing one.
  bool WriteRelation(std::string_view server, std::string_view group, std::string_view agent,
                     uint32_t timestamp, int32_t state, bool modified);

  // Event writers. False when a statement failed (server's text logged).

  // Records the database server's clock minus `timestamp`, as it was the
  // receipt age ago; true without sending anything when `timestamp` is 0.
  bool WriteTimeDiff(std::string_view server, uint32_t timestamp);
  // How long ago, in seconds, what is written now was received (0 unless
  // set): WriteTimeDiff takes the clocks' difference as it was then.
  void SetReceiptAge(uint32_t seconds) { receipt_age_ = seconds; }
  // Closes the status interval that held until `timestamp` for the agent's
  // active membership into stock_status, then WriteTimeDiff.
  bool WriteStatusInterval(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status);
  // Stores the agent's current status in the membership row.
  bool WriteRelationStatus(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status);
  bool WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                std::string_view caller_user, std::string_view call_guid, uint32_t timestamp,
                int32_t call_duration, int32_t call_state, int32_t close_reason,
                int32_t queue_duration);
  bool WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                 std::string_view call_id, uint32_t timestamp, int32_t call_state,
                 int32_t close_reason);

  // For statements built elsewhere (AcdBatch): begins `statement` for this
  // store's connection, and sends a text without logging a failure.
  void Prepare(SqlStatement* statement);
  bool Send(std::string_view text);
  // Rows the last statement changed, as the server counts them.
  uint64_t AffectedRows() const;

  // The server's code of the first failure since the last call (one that
  // time may cure before any other), and 0 when nothing failed; the text of
  // the last one.
  unsigned int TakeFailure();
  // The server's text for the last failure, fit for a log line.
  std::string ErrorText() const;

 private:
  // Sends `text`; false when not connected or the server refused it.
  bool Execute(std::string_view text);
  // Execute, then the whole result; empty when either failed.
  MySqlResult Query(std::string_view text);
  // Sends the built statement; on failure logs the server's text.
  bool ExecuteLogged();
  void NoteFailure();
  // ExecuteLogged for a statement that writes rows of `table`: one row, or
  // with kAffectedRows as many as the server reports.
  enum class RowCount { kOne, kAffectedRows };
  bool WriteLogged(WorkerStats::Table table, RowCount count = RowCount::kOne);
  bool SelectDatabase();
  bool AgentsTableHasFullName();

  ActivityLog* const log_;
  const MySqlTimeouts timeouts_;
  MySqlConnection connection_;
  SqlStatement statement_;
  StatementObserver observer_;
  uint32_t receipt_age_ = 0;
  unsigned int failure_ = 0;
  WorkerStats* stats_ = nullptr;
  // Rows written in the open transaction, counted once it commits.
  bool in_transaction_ = false;
  std::array<uint64_t, WorkerStats::kTableCount> uncommitted_rows_{};
  // The percent of each table's ID range last logged by WatchIdRanges.
  std::array<int, WorkerStats::kTableCount> id_percent_logged_{};
};

}  // namespace callsink
