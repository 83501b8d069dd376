#include "store/acd_database.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>
#include <vector>

#include "store/id_headroom.h"
#include "store/membership_cache.h"
#include "store/mysql_errors.h"
#include "store/mysql_result.h"
#include "store/open_interval.h"
#include "store/schema_names.h"
#include "store/statement_texts.h"

namespace callsink {
namespace {

constexpr std::string_view kCreateDatabase = "create database acd_db";

constexpr std::string_view kCreateGroupsTable =
    "create table IF NOT EXISTS stock_groups ("
    "UNIQUE KEY `UN_KEY` (`Serv_Name`,`Group_Name`),"
    "ID bigint unsigned auto_increment NOT NULL primary key,"
    "Serv_Name varchar(64),"
    "Group_Name varchar(64),"
    "Timestamp int(32) UNSIGNED,"
    "State tinyint(1) NULL,"
    "Modified int(32) UNSIGNED NULL,"
    "Calls_inQueue int(32) NULL )";

constexpr std::string_view kCreateAgentsTable =
    "create table IF NOT EXISTS stock_agents ("
    "UNIQUE KEY `UN_KEY` (`Serv_Name`,`Agent_Name`),"
    "ID bigint unsigned auto_increment NOT NULL primary key,"
    "Serv_Name varchar(64),"
    "Agent_Name varchar(64),"
    "Agent_FullName varchar(64),"
    "Timestamp int(32) UNSIGNED,"
    "State tinyint(1) NULL,"
    "Modified int(32) UNSIGNED NULL )";

constexpr std::string_view kCreateRelationsTable =
    "create table IF NOT EXISTS stock_relations ("
    "UNIQUE KEY `UN_KEY` (`Serv_Name`,`Group_Name`,`Agent_Name`),"
    "ID bigint unsigned auto_increment NOT NULL primary key,"
    "Serv_Name varchar(64),"
    "Group_Name varchar(64),"
    "Agent_Name varchar(64),"
    "Timestamp int(32) UNSIGNED,"
    "State tinyint(1) NULL,"
    "Modified int(32) UNSIGNED NULL,"
    "Status int(32) )";

constexpr std::string_view kCreateStatusTable =
    "create table IF NOT EXISTS stock_status ("
    "ID bigint unsigned auto_increment NOT NULL primary key,"
    "Serv_Name varchar(64),"
    "Group_Name varchar(64),"
    "Agent_Name varchar(64),"
    "TimeStart int(32) UNSIGNED,"
    "TimeEnd int(32) UNSIGNED,"
    "Status int(32) )";

constexpr std::string_view kCreateCdrTable =
    "create table IF NOT EXISTS stock_cdr ("
    "ID bigint unsigned auto_increment NOT NULL primary key,"
    "Serv_Name varchar(64),"
    "Group_Name varchar(64),"
    "Agent_Name varchar(64),"
    "Timestamp int(32) UNSIGNED,"
    "Call_Dur int(32),"
    "Caller_Usur varchar(64),"
    "Call_GUID varchar(64),"
    "Call_State int(32),"
    "Close_Reason int(32),"
    "Queue_Dur int(32) )";

constexpr std::string_view kCreateCallsTable =
    "create table IF NOT EXISTS stock_calls ("
    "ID bigint unsigned auto_increment NOT NULL primary key,"
    "Serv_Name varchar(64),"
    "Group_Name varchar(64),"
    "Agent_Name varchar(64),"
    "Timestamp int(32) UNSIGNED,"
    "Call_ID varchar(64),"
    "Call_State int(32),"
    "Close_Reason int(32) )";

constexpr std::string_view kCreateTimeTable =
    "create table IF NOT EXISTS stock_time ("
    "UNIQUE KEY `UN_KEY` (`Serv_Name`),"
    "ID bigint unsigned auto_increment NOT NULL primary key,"
    "Serv_Name varchar(64),"
    "TimeDiff int(32) )";

constexpr std::string_view kCreatePositionTable =
    "create table IF NOT EXISTS journal_position ("
    "Serv_Name varchar(64) NOT NULL primary key,"
    "Journal_ID bigint UNSIGNED NOT NULL,"
    "Position bigint UNSIGNED NOT NULL )";

constexpr std::string_view kAddAgentFullName =
    "alter table stock_agents add Agent_FullName varchar(64) NOT NULL default '' after Agent_Name";

constexpr std::string_view kTablesWithoutTransactions =
    "select TABLE_NAME, ENGINE from information_schema.TABLES join information_schema.ENGINES "
    "using (ENGINE) where TABLE_SCHEMA=DATABASE() and TRANSACTIONS<>'YES' and TABLE_NAME in "
    "('stock_groups', 'stock_agents', 'stock_relations', 'stock_status', 'stock_cdr', "
    "'stock_calls', 'stock_time', 'journal_position') order by TABLE_NAME";

using Table = WorkerStats::Table;

// The counters' table labels are the schema's names.
constexpr bool LabelIs(Table table, std::string_view name) {
  return WorkerStats::kTableNames[static_cast<size_t>(table)] == name;
}
static_assert(LabelIs(Table::kGroups, schema::kGroupsTable) &&
              LabelIs(Table::kAgents, schema::kAgentsTable) &&
              LabelIs(Table::kRelations, schema::kRelationsTable) &&
              LabelIs(Table::kStatus, schema::kStatusTable) &&
              LabelIs(Table::kCdr, schema::kCdrTable) &&
              LabelIs(Table::kCalls, schema::kCallsTable) &&
              LabelIs(Table::kTime, schema::kTimeTable));

template <typename Integer>
Integer ParseDecimal(const char* text, unsigned long length) {
  Integer value = 0;
  std::from_chars(text, text + length, value);
  return value;
}

template <typename Integer>
std::optional<Integer> ParseColumn(MYSQL_ROW row, const unsigned long* lengths, int column) {
  if (row[column] == nullptr) return std::nullopt;
  return ParseDecimal<Integer>(row[column], lengths[column]);
}

}  // namespace

AcdDatabase::AcdDatabase(ActivityLog* log, const MySqlTimeouts& timeouts)
    : log_(log), timeouts_(timeouts) {}

AcdDatabase::~AcdDatabase() { Close(); }

bool AcdDatabase::Connect(const std::string& host, const std::string& user,
                          const std::string& password, const DatabaseTlsSetting& tls) {
  if (connection_) return true;
  // A lost connection stays lost: its owner notices it at the next
  // statement, closes the store and connects anew.
  if (connection_.Open(host, user, password, tls, timeouts_) && SelectDatabase()) {
    log_->Write("Connected to database (%s)", ActivityLog::Printable(host).c_str());
    const MySqlTlsState& link = connection_.tls_state();
    if (stats_ != nullptr) stats_->SetDatabaseTls(link.encrypted, link.not_after_unix);
    return true;
  }
  // Without a handle (no memory for one) there is no reason to tell.
  if (connection_) log_->Write("Connect to DB failed: %s", ErrorText().c_str());
  connection_.Close();
  return false;
}

bool AcdDatabase::SelectDatabase() {
  MYSQL* handle = connection_.get();
  if (mysql_select_db(handle, schema::kDatabase) == 0) return true;
  // Workers of several servers start together: another one may create the
  // database between our select and our create, and then it simply exists.
  constexpr unsigned int kDatabaseExists = 1007;
  if (!Execute(kCreateDatabase) && mysql_errno(handle) != kDatabaseExists) return false;
  return mysql_select_db(handle, schema::kDatabase) == 0;
}

bool AcdDatabase::CreateTables() {
  struct Creation {
    bool (AcdDatabase::*create)();
    std::string_view table;
  };
  static constexpr Creation kCreations[] = {
      {&AcdDatabase::CreateGroupsTable, schema::kGroupsTable},
      {&AcdDatabase::CreateAgentsTable, schema::kAgentsTable},
      {&AcdDatabase::CreateRelationsTable, schema::kRelationsTable},
      {&AcdDatabase::CreateStatusTable, schema::kStatusTable},
      {&AcdDatabase::CreateCdrTable, schema::kCdrTable},
      {&AcdDatabase::CreateCallsTable, schema::kCallsTable},
      {&AcdDatabase::CreateTimeTable, schema::kTimeTable},
      {&AcdDatabase::CreatePositionTable, schema::kPositionTable},
  };
  for (const Creation& creation : kCreations) {
    if (!(this->*creation.create)()) {
      ReportTableFailure(creation.table);
      Close();
      return false;
    }
  }
  return true;
}

bool AcdDatabase::CreateGroupsTable() { return Execute(kCreateGroupsTable); }
bool AcdDatabase::CreateAgentsTable() { return Execute(kCreateAgentsTable); }
bool AcdDatabase::CreateRelationsTable() { return Execute(kCreateRelationsTable); }
bool AcdDatabase::CreateStatusTable() { return Execute(kCreateStatusTable); }
bool AcdDatabase::CreateCdrTable() { return Execute(kCreateCdrTable); }
bool AcdDatabase::CreateCallsTable() { return Execute(kCreateCallsTable); }
bool AcdDatabase::CreateTimeTable() { return Execute(kCreateTimeTable); }
bool AcdDatabase::CreatePositionTable() { return Execute(kCreatePositionTable); }

// A "create table IF NOT EXISTS" that fails may fail on a table that exists
// and holds data (a missing right gives that error as well), so no table is
// ever dropped here: the worker retries the whole creation instead.
void AcdDatabase::ReportTableFailure(std::string_view /*table*/) {
  log_->Write("Table creation failed: %s", ErrorText().c_str());
}

bool AcdDatabase::ClearServer(std::string_view server) {
  static constexpr std::string_view kDeletes[] = {
      "delete from stock_groups where Serv_Name=", "delete from stock_agents where Serv_Name=",
      "delete from stock_relations where Serv_Name="};
  if (!connection_) return false;
  for (const std::string_view head : kDeletes) {
    statement_.Begin(connection_.get()).Add(head).Quoted(server);
    if (!Execute(statement_.text())) return false;
  }
  return true;
}

void AcdDatabase::UpgradeAgentsTable() {
  if (!connection_ || AgentsTableHasFullName()) return;
  // Collectors sharing the database (several hosts, a cluster) upgrade the
  // table together: the column another one added meanwhile is what we want.
  constexpr unsigned int kDuplicateColumn = 1060;
  if (!Execute(kAddAgentFullName) && mysql_errno(connection_.get()) != kDuplicateColumn) {
    log_->Write("%s", ErrorText().c_str());
  }
}

bool AcdDatabase::AgentsTableHasFullName() {
  const MySqlResult columns(mysql_list_fields(connection_.get(), schema::kAgentsTable, nullptr));
  if (!columns) return false;
  const MYSQL_FIELD* fields = mysql_fetch_fields(columns.get());
  const unsigned int count = mysql_num_fields(columns.get());
  for (unsigned int i = 0; i < count; ++i) {
    if (std::string_view(fields[i].name, fields[i].name_length) == "Agent_FullName") return true;
  }
  return false;
}

void AcdDatabase::AddHistoryIndexes(uint64_t max_rows) {
  if (!connection_) return;
  std::vector<history::MissingIndex> missing;
  if (!history::FindMissingIndexes(connection_.get(), max_rows, &missing)) {
    log_->Write("%s", ErrorText().c_str());
    return;
  }
  for (const history::MissingIndex& lacking : missing) {
    if (lacking.rows > max_rows) {
      log_->Write(
          "Table %s has %llu rows and no index on (%s): reports and deletions read it whole; "
          "add the index with `callsinkctl database add-indexes` in a quiet hour",
          lacking.index->table, static_cast<unsigned long long>(lacking.rows),
          lacking.index->shown_columns);
      continue;
    }
    if (!history::AddIndex(connection_.get(), *lacking.index,
                           [this](const std::string& text) { return Execute(text); })) {
      log_->Write("%s", ErrorText().c_str());
    }
  }
}

void AcdDatabase::WatchIdRanges() {
  if (!connection_) return;
  for (const IdHeadroom::Table& table : IdHeadroom::Read(connection_.get())) {
    const auto* const known =
        std::find(WorkerStats::kTableNames.begin(), WorkerStats::kTableNames.end(), table.name);
    if (known == WorkerStats::kTableNames.end()) continue;
    const auto index = static_cast<size_t>(known - WorkerStats::kTableNames.begin());
    const double used = table.Used();
    if (stats_ != nullptr) stats_->SetIdUsed(static_cast<Table>(index), used);
    const int percent = static_cast<int>(used * 100);
    if (used < IdHeadroom::kWarnAt || percent <= id_percent_logged_[index]) continue;
    id_percent_logged_[index] = percent;
    log_->Write(
        "Table %s has used %d%% of its ID range (%llu of %llu); widen its ID column in a "
        "maintenance window (see the README)",
        table.name.c_str(), percent, static_cast<unsigned long long>(table.next_id),
        static_cast<unsigned long long>(table.max_id));
  }
}

bool AcdDatabase::Ping() {
  if (connection_ && mysql_ping(connection_.get()) == 0) return true;
  log_->Write("MySQL server has gone away!");
  connection_.Close();
  return false;
}

void AcdDatabase::Close() {
  in_transaction_ = false;
  connection_.Close();
}

bool AcdDatabase::ListTablesWithoutTransactions(std::string* tables) {
  tables->clear();
  const MySqlResult result = Query(kTablesWithoutTransactions);
  if (!result) return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    if (!tables->empty()) *tables += ", ";
    *tables += std::string(row[0]) + " (" + (row[1] != nullptr ? row[1] : "?") + ")";
  }
  return true;
}

bool AcdDatabase::Begin() {
  uncommitted_rows_.fill(0);
  in_transaction_ = Execute("START TRANSACTION");
  return in_transaction_;
}

bool AcdDatabase::Commit() {
  in_transaction_ = false;
  if (!Execute("COMMIT")) return false;
  if (stats_ != nullptr) {
    for (size_t table = 0; table < WorkerStats::kTableCount; ++table) {
      if (uncommitted_rows_[table] != 0) {
        stats_->CountRows(static_cast<Table>(table), uncommitted_rows_[table]);
      }
    }
  }
  return true;
}

void AcdDatabase::Rollback() {
  in_transaction_ = false;
  // A failed rollback leaves nothing to do: the session goes, and with it
  // the transaction.
  if (connection_) mysql_real_query(connection_.get(), "ROLLBACK", 8);
}

bool AcdDatabase::ReadPosition(std::string_view server, JournalPosition* position) {
  *position = {};
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add("select Journal_ID, Position from journal_position where Serv_Name=")
      .Quoted(server);
  const MySqlResult result = Query(statement_.text());
  if (!result) return false;
  if (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    position->found = true;
    position->journal = ParseColumn<uint64_t>(row, lengths, 0).value_or(0);
    position->sequence = ParseColumn<uint64_t>(row, lengths, 1).value_or(0);
  }
  return true;
}

bool AcdDatabase::WritePosition(std::string_view server, uint64_t journal, uint64_t sequence) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add("insert into journal_position ( Serv_Name, Journal_ID, Position ) values ( ")
      .ValueList(server, journal, sequence)
      .Add(" ) ON DUPLICATE KEY UPDATE Journal_ID=")
      .Unsigned(journal)
      .Add(", Position=")
      .Unsigned(sequence);
  return Execute(statement_.text());
}

bool AcdDatabase::ReadAcdClock(std::string_view server, uint64_t* now) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(
          "select Unix_timestamp(Now()) - coalesce((select TimeDiff from stock_time where "
          "Serv_Name=")
      .Quoted(server)
      .Add("), 0)");
  const MySqlResult result = Query(statement_.text());
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr) return false;
  *now = ParseColumn<uint64_t>(row, mysql_fetch_lengths(result.get()), 0).value_or(0);
  return true;
}

bool AcdDatabase::CountMemberships(std::string_view server, size_t* count) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add("select count(*) from stock_relations where Serv_Name=")
      .Quoted(server);
  const MySqlResult result = Query(statement_.text());
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr) return false;
  *count = ParseColumn<size_t>(row, mysql_fetch_lengths(result.get()), 0).value_or(0);
  return true;
}

bool AcdDatabase::LoadMemberships(std::string_view server, MembershipCache* cache) {
  cache->Invalidate();
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(
          "select Group_Name, Agent_Name, Timestamp, Status, State from stock_relations where "
          "Serv_Name=")
      .Quoted(server);
  if (!Execute(statement_.text())) return false;
  // Row by row: a directory of any size costs one row of memory here.
  const MySqlResult result(mysql_use_result(connection_.get()));
  if (!result) return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    cache->Add({row[0] != nullptr ? row[0] : "", lengths[0]},
               {row[1] != nullptr ? row[1] : "", lengths[1]},
               {ParseColumn<uint32_t>(row, lengths, 2), ParseColumn<int32_t>(row, lengths, 3),
                ParseColumn<int32_t>(row, lengths, 4)});
  }
  if (mysql_errno(connection_.get()) != 0) {
    NoteFailure();
    return false;
  }
  cache->Loaded();
  return true;
}

bool AcdDatabase::WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                             int32_t state, bool modified, int32_t calls_in_queue) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(statement_texts::kInsertGroup)
      .ValueList(server, group, timestamp, state, statement_texts::kCounted, calls_in_queue);
  statement_texts::AddGroupUpdate(statement_, timestamp, state, modified, calls_in_queue);
  return WriteLogged(Table::kGroups) && WriteTimeDiff(server, timestamp);
}

bool AcdDatabase::WriteAgent(std::string_view server, std::string_view agent,
                             std::string_view full_name, uint32_t timestamp, int32_t state,
                             bool modified) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(statement_texts::kInsertAgent)
      .ValueList(server, agent, full_name, timestamp, state, statement_texts::kCounted);
  statement_texts::AddAgentUpdate(statement_, timestamp, full_name, state, modified);
  return WriteLogged(Table::kAgents) && WriteTimeDiff(server, timestamp);
}

bool AcdDatabase::WriteRelation(std::string_view server, std::string_view group,
                                std::string_view agent, uint32_t timestamp, int32_t state,
                                bool modified) {
  if (!connection_) return false;
  statement_.Begin(connection_.get());
  if (agent.empty()) {
    statement_texts::AddGroupMembershipsUpdate(statement_, server, group, timestamp, state);
  } else {
    statement_.Add(statement_texts::kInsertRelation)
        .ValueList(server, group, agent, timestamp, state, statement_texts::kCounted);
    statement_texts::AddRelationUpdate(statement_, timestamp, state, modified);
  }
  return WriteLogged(Table::kRelations, agent.empty() ? RowCount::kAffectedRows : RowCount::kOne) &&
         WriteTimeDiff(server, timestamp);
}

bool AcdDatabase::WriteTimeDiff(std::string_view server, uint32_t timestamp) {
  if (timestamp == 0) return true;
  if (!connection_) return false;
  statement_.Begin(connection_.get());
  statement_texts::AddTimeDiff(statement_, server, uint64_t{timestamp} + receipt_age_);
  return WriteLogged(Table::kTime);
}

bool AcdDatabase::WriteStatusInterval(std::string_view server, std::string_view group,
                                      std::string_view agent, uint32_t timestamp, int32_t status) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add("select Timestamp, Status from stock_relations where Serv_Name=")
      .Quoted(server)
      .Add(" and Group_Name=")
      .Quoted(group)
      .Add(" and Agent_Name=")
      .Quoted(agent)
      .Add(" and State=1");
  if (!ExecuteLogged()) return false;

  const MySqlResult result(mysql_store_result(connection_.get()));
  if (result) {
    MYSQL_ROW row = mysql_fetch_row(result.get());
    const unsigned long* lengths = row != nullptr ? mysql_fetch_lengths(result.get()) : nullptr;
    const OpenInterval open =
        row == nullptr ? OpenInterval::Of(false, {}, {}, timestamp, status)
                       : OpenInterval::Of(true, ParseColumn<uint32_t>(row, lengths, 0),
                                          ParseColumn<int32_t>(row, lengths, 1), timestamp, status);
    if (open.Closes(timestamp, status)) {
      statement_.Begin(connection_.get())
          .Add(statement_texts::kInsertInterval)
          .ValueList(server, group, agent, open.start, timestamp, open.status)
          .Add(statement_texts::kLastRow);
      if (!WriteLogged(Table::kStatus)) return false;
    }
  }
  return WriteTimeDiff(server, timestamp);
}

bool AcdDatabase::WriteRelationStatus(std::string_view server, std::string_view group,
                                      std::string_view agent, uint32_t timestamp, int32_t status) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(statement_texts::kInsertRelationStatus)
      .ValueList(server, group, agent, timestamp, status);
  statement_texts::AddRelationStatusUpdate(statement_, status, timestamp);
  return WriteLogged(Table::kRelations);
}

bool AcdDatabase::WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                           std::string_view caller_user, std::string_view call_guid,
                           uint32_t timestamp, int32_t call_duration, int32_t call_state,
                           int32_t close_reason, int32_t queue_duration) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(statement_texts::kInsertCdr)
      .ValueList(server, group, agent, timestamp, call_duration, caller_user, call_guid, call_state,
                 close_reason, queue_duration)
      .Add(statement_texts::kLastRow);
  return WriteLogged(Table::kCdr);
}

bool AcdDatabase::WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                            std::string_view call_id, uint32_t timestamp, int32_t call_state,
                            int32_t close_reason) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(statement_texts::kInsertCall)
      .ValueList(server, group, agent, timestamp, call_id, call_state, close_reason)
      .Add(statement_texts::kLastRow);
  return WriteLogged(Table::kCalls);
}

void AcdDatabase::Prepare(SqlStatement* statement) { statement->Begin(connection_.get()); }

bool AcdDatabase::Send(std::string_view text) { return Execute(text); }

uint64_t AcdDatabase::AffectedRows() const {
  return connection_ ? mysql_affected_rows(connection_.get()) : 0;
}

unsigned int AcdDatabase::TakeFailure() { return std::exchange(failure_, 0); }

bool AcdDatabase::Execute(std::string_view text) {
  if (!connection_) return false;
  if (observer_) observer_(text);
  if (mysql_real_query(connection_.get(), text.data(), text.size()) == 0) return true;
  NoteFailure();
  return false;
}

MySqlResult AcdDatabase::Query(std::string_view text) {
  if (!Execute(text)) return MySqlResult(nullptr);
  return MySqlResult(mysql_store_result(connection_.get()));
}

void AcdDatabase::NoteFailure() {
  if (stats_ != nullptr) stats_->CountFailedStatement();
  // The first failure that time may cure outweighs any refused statement.
  if (failure_ == 0 || mysql_errors::RefusesStatement(failure_)) {
    failure_ = mysql_errno(connection_.get());
  }
}

bool AcdDatabase::ExecuteLogged() {
  if (Execute(statement_.text())) return true;
  log_->Write("%s", ErrorText().c_str());
  return false;
}

bool AcdDatabase::WriteLogged(Table table, RowCount count) {
  if (!ExecuteLogged()) return false;
  CountRows(table, count == RowCount::kOne ? 1 : AffectedRows());
  return true;
}

void AcdDatabase::CountRows(Table table, uint64_t rows) {
  if (in_transaction_) {
    uncommitted_rows_[static_cast<size_t>(table)] += rows;
  } else if (stats_ != nullptr) {
    stats_->CountRows(table, rows);
  }
}

std::string AcdDatabase::ErrorText() const {
  // The server quotes what it could not take, names from the ACD server
  // included.
  return ActivityLog::Printable(connection_.ErrorText());
}

}  // namespace callsink
