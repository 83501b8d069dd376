#include "store/acd_database.h"

#include <algorithm>
#include <charconv>

#include "store/id_headroom.h"
#include "store/mysql_result.h"
#include "store/schema_names.h"

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

constexpr std::string_view kAddAgentFullName =
    "alter table stock_agents add Agent_FullName varchar(64) NOT NULL default '' after Agent_Name";

constexpr std::string_view kModifiedCounts = ", Modified=Modified+1";
// The Modified count a directory row is inserted with.
constexpr int32_t kCounted = 1;

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

// The status interval that is open for a membership when a new status
// arrives: since when and with which status, and whether it was recorded.
struct OpenInterval {
  uint32_t start;
  int32_t status;
  bool found;
};

template <typename Integer>
Integer ParseDecimal(const char* text, unsigned long length) {
  Integer value = 0;
  std::from_chars(text, text + length, value);
  return value;
}

// Reads the row (Timestamp, Status) of the membership's select. No row: the
// interval opened at 0 with status 0. A row with either column NULL: an
// interval that starts now with the new status.
OpenInterval ReadOpenInterval(MYSQL_RES* result, uint32_t timestamp, int32_t status) {
  MYSQL_ROW row = mysql_fetch_row(result);
  if (row == nullptr) return {0, 0, false};
  if (row[0] == nullptr || row[1] == nullptr) return {timestamp, status, false};
  const unsigned long* lengths = mysql_fetch_lengths(result);
  return {ParseDecimal<uint32_t>(row[0], lengths[0]), ParseDecimal<int32_t>(row[1], lengths[1]),
          true};
}

}  // namespace

AcdDatabase::AcdDatabase(ActivityLog* log, const MySqlTimeouts& timeouts)
    : log_(log), timeouts_(timeouts) {}

AcdDatabase::~AcdDatabase() { Close(); }

bool AcdDatabase::Connect(const std::string& host, const std::string& user,
                          const std::string& password) {
  if (connection_) return true;
  // A lost connection stays lost: the worker notices it at the next Ping
  // and starts a new pass, which rebuilds the directory.
  if (connection_.Open(host, user, password, timeouts_) && SelectDatabase()) {
    log_->Write("Connected to database (%s)", ActivityLog::Printable(host).c_str());
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

bool AcdDatabase::CreateTables(std::string_view server) {
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
  };
  for (const Creation& creation : kCreations) {
    if (!(this->*creation.create)()) {
      ReportTableFailure(creation.table);
      Close();
      return false;
    }
  }
  if (ClearServer(server)) return true;
  Close();
  return false;
}

bool AcdDatabase::CreateGroupsTable() { return Execute(kCreateGroupsTable); }
bool AcdDatabase::CreateAgentsTable() { return Execute(kCreateAgentsTable); }
bool AcdDatabase::CreateRelationsTable() { return Execute(kCreateRelationsTable); }
bool AcdDatabase::CreateStatusTable() { return Execute(kCreateStatusTable); }
bool AcdDatabase::CreateCdrTable() { return Execute(kCreateCdrTable); }
bool AcdDatabase::CreateCallsTable() { return Execute(kCreateCallsTable); }
bool AcdDatabase::CreateTimeTable() { return Execute(kCreateTimeTable); }

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

void AcdDatabase::Close() { connection_.Close(); }

bool AcdDatabase::WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                             int32_t state, bool modified, int32_t calls_in_queue) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(
          "insert into stock_groups ( Serv_Name, Group_Name, Timestamp, State, Modified, "
          "Calls_inQueue ) values ( ")
      .ValueList(server, group, timestamp, state, kCounted, calls_in_queue)
      .Add(" ) ON DUPLICATE KEY UPDATE Timestamp=")
      .Unsigned(timestamp);
  AddStateUpdate(state, modified).Add(", Calls_inQueue=").Signed(calls_in_queue);
  return WriteLogged(Table::kGroups) && WriteTimeDiff(server, timestamp);
}

bool AcdDatabase::WriteAgent(std::string_view server, std::string_view agent,
                             std::string_view full_name, uint32_t timestamp, int32_t state,
                             bool modified) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(
          "insert into stock_agents ( Serv_Name, Agent_Name, Agent_FullName, Timestamp, State, "
          "Modified ) values ( ")
      .ValueList(server, agent, full_name, timestamp, state, kCounted)
      .Add(" ) ON DUPLICATE KEY UPDATE Timestamp=")
      .Unsigned(timestamp)
      .Add(", Agent_FullName=")
      .Quoted(full_name);
  AddStateUpdate(state, modified);
  return WriteLogged(Table::kAgents) && WriteTimeDiff(server, timestamp);
}

bool AcdDatabase::WriteRelation(std::string_view server, std::string_view group,
                                std::string_view agent, uint32_t timestamp, int32_t state,
                                bool modified) {
  if (!connection_) return false;
  statement_.Begin(connection_.get());
  if (agent.empty()) {
    statement_.Add("UPDATE stock_relations SET Timestamp=")
        .Unsigned(timestamp)
        .Add(", State=")
        .Signed(state)
        .Add(", Modified=Modified+1 WHERE Serv_Name=")
        .Quoted(server)
        .Add(" and Group_Name=")
        .Quoted(group)
        .Add("; ");
  } else {
    statement_
        .Add(
            "insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, Timestamp, State, "
            "Modified ) values ( ")
        .ValueList(server, group, agent, timestamp, state, kCounted)
        .Add(" ) ON DUPLICATE KEY UPDATE Timestamp=")
        .Unsigned(timestamp);
    AddStateUpdate(state, modified);
  }
  return WriteLogged(Table::kRelations, agent.empty() ? RowCount::kAffectedRows : RowCount::kOne) &&
         WriteTimeDiff(server, timestamp);
}

SqlStatement& AcdDatabase::AddStateUpdate(int32_t state, bool modified) {
  return statement_.Add(", State=").Signed(state).Add(modified ? kModifiedCounts : "");
}

bool AcdDatabase::WriteTimeDiff(std::string_view server, uint32_t timestamp) {
  if (timestamp == 0) return true;
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add("insert into stock_time ( Serv_Name, TimeDiff ) values ( ")
      .Quoted(server)
      .Add(", Unix_timestamp(Now())-")
      .Unsigned(timestamp)
      .Add(" ) ON DUPLICATE KEY UPDATE TimeDiff=Unix_timestamp(Now())-")
      .Unsigned(timestamp);
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
    const OpenInterval open = ReadOpenInterval(result.get(), timestamp, status);
    // Only a change of status that comes later than the interval's start
    // closes a recorded interval; the other cases record one at once.
    if (!open.found || (open.status != status && open.start < timestamp)) {
      statement_.Begin(connection_.get())
          .Add(
              "insert into stock_status ( Serv_Name, Group_Name, Agent_Name, TimeStart, "
              "TimeEnd, Status ) values ( ")
          .ValueList(server, group, agent, open.start, timestamp, open.status)
          .Add(" ) ");
      if (!WriteLogged(Table::kStatus)) return false;
    }
  }
  return WriteTimeDiff(server, timestamp);
}

bool AcdDatabase::WriteRelationStatus(std::string_view server, std::string_view group,
                                      std::string_view agent, uint32_t timestamp, int32_t status) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(
          "insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, Timestamp, Status ) "
          "values ( ")
      .ValueList(server, group, agent, timestamp, status)
      .Add(" ) ON DUPLICATE KEY UPDATE Status=")
      .Signed(status)
      .Add(", Timestamp=")
      .Unsigned(timestamp);
  return WriteLogged(Table::kRelations);
}

bool AcdDatabase::WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                           std::string_view caller_user, std::string_view call_guid,
                           uint32_t timestamp, int32_t call_duration, int32_t call_state,
                           int32_t close_reason, int32_t queue_duration) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(
          "insert into stock_cdr ( Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
          "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur ) values ( ")
      .ValueList(server, group, agent, timestamp, call_duration, caller_user, call_guid, call_state,
                 close_reason, queue_duration)
      .Add(" ) ");
  return WriteLogged(Table::kCdr);
}

bool AcdDatabase::WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                            std::string_view call_id, uint32_t timestamp, int32_t call_state,
                            int32_t close_reason) {
  if (!connection_) return false;
  statement_.Begin(connection_.get())
      .Add(
          "insert into stock_calls ( Serv_Name, Group_Name, Agent_Name, Timestamp, Call_ID, "
          "Call_State, Close_Reason ) values ( ")
      .ValueList(server, group, agent, timestamp, call_id, call_state, close_reason)
      .Add(" ) ");
  return WriteLogged(Table::kCalls);
}

bool AcdDatabase::Execute(std::string_view text) {
  if (!connection_) return false;
  if (observer_) observer_(text);
  if (mysql_real_query(connection_.get(), text.data(), text.size()) == 0) return true;
  if (stats_ != nullptr) stats_->CountFailedStatement();
  return false;
}

bool AcdDatabase::ExecuteLogged() {
  if (Execute(statement_.text())) return true;
  log_->Write("%s", ErrorText().c_str());
  return false;
}

bool AcdDatabase::WriteLogged(Table table, RowCount count) {
  if (!ExecuteLogged()) return false;
  if (stats_ != nullptr) {
    stats_->CountRows(table, count == RowCount::kOne ? 1 : mysql_affected_rows(connection_.get()));
  }
  return true;
}

std::string AcdDatabase::ErrorText() const {
  // The server quotes what it could not take, names from the ACD server
  // included.
  return connection_ ? ActivityLog::Printable(mysql_error(connection_.get())) : "";
}

}  // namespace callsink
