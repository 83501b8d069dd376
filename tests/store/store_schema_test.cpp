// Connect, the seven tables, ClearServer, UpgradeAgentsTable, Ping and Close
// against the program's private MariaDB server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "store/id_headroom.h"
#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const std::vector<std::string> kCreateStatements = {
    "create table IF NOT EXISTS stock_groups (UNIQUE KEY `UN_KEY` (`Serv_Name`,`Group_Name`),"
    "ID bigint unsigned auto_increment NOT NULL primary key,Serv_Name varchar(64),Group_Name "
    "varchar(64),Timestamp int(32) UNSIGNED,State tinyint(1) NULL,Modified int(32) UNSIGNED "
    "NULL,Calls_inQueue int(32) NULL )",
    "create table IF NOT EXISTS stock_agents (UNIQUE KEY `UN_KEY` (`Serv_Name`,`Agent_Name`),"
    "ID bigint unsigned auto_increment NOT NULL primary key,Serv_Name varchar(64),Agent_Name "
    "varchar(64),Agent_FullName varchar(64),Timestamp int(32) UNSIGNED,State tinyint(1) "
    "NULL,Modified int(32) UNSIGNED NULL )",
    "create table IF NOT EXISTS stock_relations (UNIQUE KEY `UN_KEY` "
    "(`Serv_Name`,`Group_Name`,`Agent_Name`),ID bigint unsigned auto_increment NOT NULL primary "
    "key,Serv_Name varchar(64),Group_Name varchar(64),Agent_Name varchar(64),Timestamp int(32) "
    "UNSIGNED,State tinyint(1) NULL,Modified int(32) UNSIGNED NULL,Status int(32) )",
    "create table IF NOT EXISTS stock_status (ID bigint unsigned auto_increment NOT NULL primary "
    "key,Serv_Name varchar(64),Group_Name varchar(64),Agent_Name varchar(64),TimeStart int(32) "
    "UNSIGNED,TimeEnd int(32) UNSIGNED,Status int(32) )",
    "create table IF NOT EXISTS stock_cdr (ID bigint unsigned auto_increment NOT NULL primary "
    "key,Serv_Name varchar(64),Group_Name varchar(64),Agent_Name varchar(64),Timestamp int(32) "
    "UNSIGNED,Call_Dur int(32),Caller_Usur varchar(64),Call_GUID varchar(64),Call_State "
    "int(32),Close_Reason int(32),Queue_Dur int(32) )",
    "create table IF NOT EXISTS stock_calls (ID bigint unsigned auto_increment NOT NULL primary "
    "key,Serv_Name varchar(64),Group_Name varchar(64),Agent_Name varchar(64),Timestamp int(32) "
    "UNSIGNED,Call_ID varchar(64),Call_State int(32),Close_Reason int(32) )",
    "create table IF NOT EXISTS stock_time (UNIQUE KEY `UN_KEY` (`Serv_Name`),ID bigint "
    "unsigned auto_increment NOT NULL primary key,Serv_Name varchar(64),TimeDiff int(32) )",
};

const std::vector<std::string> kPositionStatement = {
    "create table IF NOT EXISTS journal_position (Serv_Name varchar(64) NOT NULL primary "
    "key,Journal_ID bigint UNSIGNED NOT NULL,Position bigint UNSIGNED NOT NULL )",
};

const std::vector<std::string> kClearStatements = {
    "delete from stock_groups where Serv_Name=\"acd1.example\"",
    "delete from stock_agents where Serv_Name=\"acd1.example\"",
    "delete from stock_relations where Serv_Name=\"acd1.example\"",
};

const char kAlterStatement[] =
    "alter table stock_agents add Agent_FullName varchar(64) NOT NULL default '' after "
    "Agent_Name";

// The layout stock_agents had before Agent_FullName existed.
const char kOldAgentsTable[] =
    "create table acd_db.stock_agents (UNIQUE KEY `UN_KEY` (`Serv_Name`,`Agent_Name`),ID "
    "int(11) auto_increment NOT NULL primary key,Serv_Name varchar(64),Agent_Name "
    "varchar(64),Timestamp int(32) UNSIGNED,State tinyint(1) NULL,Modified int(32) UNSIGNED "
    "NULL )";

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class StoreConnectTest : public StoreTest {
 protected:
  // A user 'partial'@'localhost' of the test's own, who may read and write
  // acd_db but holds only the further rights granted with Grant; removed
  // after the test.
  void CreatePartialUser() {
    Exec("create user 'partial'@'localhost' identified by 'partial'");
    Grant("select, insert, update on acd_db.*");
    created_user_ = true;
  }
  void Grant(const std::string& rights) { Exec("grant " + rights + " to 'partial'@'localhost'"); }
  void TearDown() override {
    if (created_user_) Exec("drop user 'partial'@'localhost'");
    StoreTest::TearDown();
  }

  // Polls `sql` until it gives `expected`: the server ends a session shortly
  // after the client's quit, not at once.
  std::string EventuallyValue(const std::string& sql, const std::string& expected) {
    std::string value;
    for (int attempt = 0; attempt < 200 && (value = Value(sql)) != expected; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return value;
  }

  bool created_user_ = false;
};

TEST_F(StoreConnectTest, ServerWithoutAcdDbGetsItCreatedAndSelected) {
  ASSERT_TRUE(store_.Connect("localhost", env().admin_user, env().admin_password));
  EXPECT_TRUE(store_.IsConnected());
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
  EXPECT_THAT(Statements(), ElementsAre(kSessionModes, "create database acd_db"));
  // The general log leaves out the selection that failed.
  EXPECT_THAT(Commands(),
              ElementsAre(StartsWith("Connect: "), std::string("Query: ") + kSessionModes,
                          "Query: create database acd_db", "Init DB: acd_db"));
  EXPECT_EQ(Value("select count(*) from information_schema.schemata where schema_name='acd_db'"),
            "1");
}

TEST_F(StoreConnectTest, ServerWithAcdDbIsOnlySelected) {
  Exec("create database acd_db");
  ForgetStatements();
  ASSERT_TRUE(store_.Connect("127.0.0.1", env().admin_user, env().admin_password));
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (127.0.0.1)"));
  EXPECT_THAT(Commands(), ElementsAre(StartsWith("Connect: "),
                                      std::string("Query: ") + kSessionModes, "Init DB: acd_db"));
}

TEST_F(StoreConnectTest, SecondConnectReturnsTrueAndSendsNothing) {
  ASSERT_TRUE(store_.Connect("localhost", env().admin_user, env().admin_password));
  ForgetStatements();
  EXPECT_TRUE(store_.Connect("localhost", "nobody", "wrong"));
  EXPECT_THAT(Commands(), IsEmpty());
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
}

TEST_F(StoreConnectTest, UserWithoutCreateRightOnServerWithoutAcdDbFailsWithServerText) {
  ASSERT_FALSE(store_.Connect("localhost", env().limited_user, env().limited_password));
  EXPECT_FALSE(store_.IsConnected());
  EXPECT_THAT(LogLines(), ElementsAre("Connect to DB failed: Access denied for user "
                                      "'callsink_limited'@'localhost' to database 'acd_db'"));
}

TEST_F(StoreConnectTest, PercentInTheServerTextIsLoggedUnchanged) {
  // Over TCP the account that matches is user@'%', and the server's text says so.
  ASSERT_FALSE(store_.Connect("127.0.0.1", env().limited_user, env().limited_password));
  EXPECT_THAT(LogLines(), ElementsAre("Connect to DB failed: Access denied for user "
                                      "'callsink_limited'@'%' to database 'acd_db'"));
}

TEST_F(StoreConnectTest, WrongPasswordFailsAndTheSameStoreMayTryAgain) {
  ASSERT_FALSE(store_.Connect("127.0.0.1", env().admin_user, "wrong"));
  EXPECT_FALSE(store_.IsConnected());
  EXPECT_THAT(LogLines(), ElementsAre("Connect to DB failed: Access denied for user "
                                      "'callsink_admin'@'127.0.0.1' (using password: YES)"));
  ASSERT_TRUE(store_.Connect("localhost", env().admin_user, env().admin_password));
  EXPECT_TRUE(store_.Ping());
}

TEST_F(StoreConnectTest, KilledSessionIsNotReconnectedBehindTheWorkersBack) {
  ConnectStore();
  const std::string id = Value("select id from information_schema.processlist where user='" +
                               env().admin_user + "' and id<>connection_id()");
  ASSERT_FALSE(id.empty());
  Exec("kill " + id);
  EXPECT_FALSE(store_.Ping()) << "an automatic reconnect would have answered";
  EXPECT_FALSE(store_.IsConnected());
  EXPECT_EQ(LogLines().back(), "MySQL server has gone away!");
  EXPECT_FALSE(store_.WriteCall(kServer, "Sales", "1001", "c1", 5, 1, 0));
  EXPECT_EQ(Value("select count(*) from stock_calls"), "0");
}

class StoreSchemaTest : public StoreConnectTest {};

TEST_F(StoreSchemaTest, CreateTablesSendsTheSevenCreationsInOrderThenThePositionTable) {
  ASSERT_TRUE(store_.Connect("localhost", env().admin_user, env().admin_password));
  ForgetStatements();
  ASSERT_TRUE(store_.CreateTables());
  EXPECT_THAT(Statements(),
              ::testing::ElementsAreArray(Joined(kCreateStatements, kPositionStatement)));
  EXPECT_THAT(Rows("select table_name from information_schema.tables where table_schema="
                   "'acd_db' order by table_name"),
              ElementsAre("journal_position", "stock_agents", "stock_calls", "stock_cdr",
                          "stock_groups", "stock_relations", "stock_status", "stock_time"));
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
}

// Rows and position commit together only in tables with transactions: the
// others are named, whatever the server's default engine made them.
TEST_F(StoreSchemaTest, TablesWithoutTransactionsAreNamedWithTheirEngine) {
  ConnectStore();
  std::string tables = "not asked";
  ASSERT_TRUE(store_.ListTablesWithoutTransactions(&tables));
  EXPECT_EQ(tables, "");
  Exec("alter table stock_cdr engine=MyISAM");
  Exec("alter table journal_position engine=MyISAM");
  ASSERT_TRUE(store_.ListTablesWithoutTransactions(&tables));
  EXPECT_EQ(tables, "journal_position (MyISAM), stock_cdr (MyISAM)");
}

TEST_F(StoreSchemaTest, TablesTakeTheServersDefaultCharacterSet) {
  ConnectStore();
  EXPECT_EQ(Value("select distinct table_collation from information_schema.tables where "
                  "table_schema='acd_db'"),
            "utf8mb4_general_ci");
}

TEST_F(StoreSchemaTest, ExistingTablesKeepTheirRowsAndClearServerTakesOnlyThisServersDirectory) {
  ConnectStore();
  for (const char* server : {kServer, kOtherServer}) {
    const std::string s = std::string("\"") + server + "\"";
    Exec("insert into stock_groups (Serv_Name, Group_Name) values (" + s + ", \"Sales\")");
    Exec("insert into stock_agents (Serv_Name, Agent_Name) values (" + s + ", \"1001\")");
    Exec("insert into stock_relations (Serv_Name, Group_Name, Agent_Name) values (" + s +
         ", \"Sales\", \"1001\")");
    Exec("insert into stock_status (Serv_Name, TimeStart) values (" + s + ", 1)");
    Exec("insert into stock_cdr (Serv_Name, Call_Dur) values (" + s + ", 2)");
    Exec("insert into stock_calls (Serv_Name, Call_ID) values (" + s + ", \"c\")");
    Exec("insert into stock_time (Serv_Name, TimeDiff) values (" + s + ", 3)");
  }

  AcdDatabase next_pass(&log_);
  ASSERT_TRUE(next_pass.Connect("localhost", env().admin_user, env().admin_password));
  ForgetStatements();
  ASSERT_TRUE(next_pass.CreateTables());
  ASSERT_TRUE(next_pass.ClearServer(kServer));

  EXPECT_THAT(Statements(), ::testing::ElementsAreArray(Joined(
                                Joined(kCreateStatements, kPositionStatement), kClearStatements)));
  for (const char* table : {"stock_groups", "stock_agents", "stock_relations"}) {
    EXPECT_THAT(Rows(std::string("select Serv_Name from ") + table), ElementsAre(kOtherServer))
        << table;
  }
  for (const char* table : {"stock_status", "stock_cdr", "stock_calls", "stock_time"}) {
    EXPECT_THAT(Rows(std::string("select Serv_Name from ") + table + " order by Serv_Name"),
                ElementsAre(kServer, kOtherServer))
        << table;
  }
}

TEST_F(StoreSchemaTest, MissingCreateRightFailsAtTheFirstTableAndDropsNothing) {
  ConnectStore();
  Exec("insert into stock_groups (Serv_Name, Group_Name) values (\"acd1.example\", \"Sales\")");
  AcdDatabase limited(&log_);
  ASSERT_TRUE(limited.Connect("localhost", env().limited_user, env().limited_password));
  ForgetStatements();

  EXPECT_FALSE(limited.CreateTables());
  EXPECT_FALSE(limited.IsConnected()) << "a retry connects afresh";
  EXPECT_THAT(Statements(), ElementsAre(kCreateStatements[0]));
  EXPECT_EQ(LogLines().back(),
            "Table creation failed: CREATE command denied to user "
            "'callsink_limited'@'localhost' for table `acd_db`.`stock_groups`");
  EXPECT_THAT(Rows("select Group_Name from stock_groups"), ElementsAre("Sales"));
}

TEST_F(StoreSchemaTest, FailureAtALaterTableStopsThereAndKeepsThatTablesData) {
  ConnectStore();
  Exec("insert into stock_status (Serv_Name, TimeStart) values (\"acd1.example\", 7)");
  CreatePartialUser();
  for (const char* table : {"stock_groups", "stock_agents", "stock_relations"}) {
    Grant(std::string("create on acd_db.") + table);
  }
  AcdDatabase partial(&log_);
  ASSERT_TRUE(partial.Connect("localhost", "partial", "partial"));
  ForgetStatements();

  EXPECT_FALSE(partial.CreateTables());
  EXPECT_FALSE(partial.IsConnected());
  EXPECT_THAT(Statements(), ElementsAre(kCreateStatements[0], kCreateStatements[1],
                                        kCreateStatements[2], kCreateStatements[3]));
  EXPECT_EQ(LogLines().back(),
            "Table creation failed: CREATE command denied to user 'partial'@'localhost' for "
            "table `acd_db`.`stock_status`");
  EXPECT_THAT(Rows("select TimeStart from stock_status"), ElementsAre("7"));

  // The worker's retry on the same store: a new session, which has the
  // rights granted meanwhile, and the tables are tried again.
  for (const char* table :
       {"stock_status", "stock_cdr", "stock_calls", "stock_time", "journal_position"}) {
    Grant(std::string("create on acd_db.") + table);
  }
  ForgetStatements();
  EXPECT_TRUE(partial.Connect("localhost", "partial", "partial"));
  EXPECT_TRUE(partial.CreateTables());
  EXPECT_THAT(Statements(), ::testing::ElementsAreArray(Joined(
                                Joined({kSessionModes}, kCreateStatements), kPositionStatement)));
}

TEST_F(StoreSchemaTest, ClearServerFailureStopsAtTheFirstDeleteWithoutALogLine) {
  ConnectStore();
  CreatePartialUser();
  AcdDatabase partial(&log_);
  ASSERT_TRUE(partial.Connect("localhost", "partial", "partial"));
  const size_t lines_before = LogLines().size();
  ForgetStatements();

  EXPECT_FALSE(partial.ClearServer(kServer));
  EXPECT_TRUE(partial.IsConnected());
  EXPECT_THAT(Statements(), ElementsAre(kClearStatements[0]));
  EXPECT_EQ(LogLines().size(), lines_before);
}

TEST_F(StoreSchemaTest, ClearServerEscapesTheServerName) {
  ConnectStore();
  const std::string odd = "a\"b\\c'd";
  Exec("insert into stock_groups (Serv_Name) values ('a\"b\\\\c''d'), ('a')");
  ForgetStatements();
  ASSERT_TRUE(store_.ClearServer(odd));
  EXPECT_EQ(Statements().front(), "delete from stock_groups where Serv_Name=\"a\\\"b\\\\c\\'d\"");
  EXPECT_THAT(Rows("select Serv_Name from stock_groups"), ElementsAre("a"));
}

class StoreUpgradeTest : public StoreConnectTest {};

TEST_F(StoreUpgradeTest, OldAgentsTableGetsFullNameAfterAgentNameNotNullDefaultEmpty) {
  Exec("create database acd_db");
  Exec(kOldAgentsTable);
  Exec(
      "insert into acd_db.stock_agents (Serv_Name, Agent_Name) values ('acd2.example', "
      "'1001')");
  ConnectStore();

  store_.UpgradeAgentsTable();

  EXPECT_THAT(Commands(),
              ElementsAre("Field List: stock_agents ", std::string("Query: ") + kAlterStatement));
  EXPECT_THAT(
      Rows("select column_name, is_nullable, column_default from "
           "information_schema.columns where table_schema='acd_db' and "
           "table_name='stock_agents' order by ordinal_position"),
      ElementsAre("ID|NO|NULL", "Serv_Name|YES|NULL", "Agent_Name|YES|NULL", "Agent_FullName|NO|''",
                  "Timestamp|YES|NULL", "State|YES|NULL", "Modified|YES|NULL"));
  EXPECT_THAT(Rows("select Agent_Name, Agent_FullName from stock_agents"), ElementsAre("1001|"));
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
}

TEST_F(StoreUpgradeTest, CurrentAgentsTableSendsNoStatementAndLogsNothing) {
  ConnectStore();
  store_.UpgradeAgentsTable();
  EXPECT_THAT(Commands(), ElementsAre("Field List: stock_agents "));
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
}

TEST_F(StoreUpgradeTest, FailedAlterLogsTheServerTextAlone) {
  Exec("create database acd_db");
  Exec(kOldAgentsTable);
  AcdDatabase limited(&log_);
  ASSERT_TRUE(limited.Connect("localhost", env().limited_user, env().limited_password));
  limited.UpgradeAgentsTable();
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)",
                                      "ALTER command denied to user "
                                      "'callsink_limited'@'localhost' for table "
                                      "`acd_db`.`stock_agents`"));
}

// Two collectors upgrading the same table: the one whose ALTER comes second
// finds the column there and says nothing.
TEST_F(StoreUpgradeTest, AColumnAddedMeanwhileByAnotherCollectorIsNoFailure) {
  Exec("create database acd_db");
  Exec(kOldAgentsTable);
  AcdDatabase second(&log_);
  second.SetStatementObserver([&](std::string_view statement) {
    if (statement != kAlterStatement) return;
    std::string other(kAlterStatement);
    Exec(other.replace(other.find("stock_agents"), 0, "acd_db."));
  });
  ASSERT_TRUE(second.Connect("localhost", env().admin_user, env().admin_password));
  second.UpgradeAgentsTable();
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
  EXPECT_EQ(Value("select count(*) from information_schema.columns where table_schema='acd_db' "
                  "and column_name='Agent_FullName'"),
            "1");
}

TEST_F(StoreUpgradeTest, NotConnectedStoreDoesNothing) {
  store_.UpgradeAgentsTable();
  EXPECT_THAT(Commands(), IsEmpty());
  EXPECT_THAT(LogLines(), IsEmpty());
}

class StorePingTest : public StoreConnectTest {};

// New tables count their IDs in 64 bits; a table of the old layout is
// watched: logged from 75% of its range and again at each further percent,
// its share served as a figure.
TEST_F(StoreUpgradeTest, IdRangesAreWideForNewTablesAndWatchedForOldOnes) {
  Exec("create database acd_db");
  Exec(
      "create table acd_db.stock_status (ID int(11) auto_increment NOT NULL primary key, "
      "Serv_Name varchar(64), Group_Name varchar(64), Agent_Name varchar(64), TimeStart int(32) "
      "UNSIGNED, TimeEnd int(32) UNSIGNED, Status int(32)) auto_increment=1610612736");
  WorkerStats stats;
  store_.CountInto(&stats);
  ConnectStore();
  EXPECT_THAT(Rows("select table_name from information_schema.columns where table_schema="
                   "'acd_db' and column_name='ID' and column_type<>'bigint(20) unsigned' "
                   "order by table_name"),
              ElementsAre("stock_status"));

  const std::string warning =
      "Table stock_status has used 75% of its ID range (1610612736 of 2147483647); widen its ID "
      "column in a maintenance window (see the README)";
  store_.WatchIdRanges();
  store_.WatchIdRanges();
  Exec("alter table stock_status auto_increment=1739461755");
  store_.WatchIdRanges();
  EXPECT_THAT(LogLines(),
              ElementsAre("Connected to database (localhost)", warning,
                          "Table stock_status has used 81% of its ID range (1739461755 of "
                          "2147483647); widen its ID column in a maintenance window (see the "
                          "README)"));
  const WorkerStats::Snapshot figures = stats.Read();
  EXPECT_DOUBLE_EQ(figures.id_used[static_cast<size_t>(WorkerStats::Table::kStatus)],
                   1739461755.0 / 2147483647.0);
  EXPECT_GT(figures.id_used[static_cast<size_t>(WorkerStats::Table::kCdr)], 0);
  EXPECT_LT(figures.id_used[static_cast<size_t>(WorkerStats::Table::kCdr)], 1e-18);

  for (const auto& [type, max] :
       std::vector<std::pair<std::string, uint64_t>>{{"int(10) unsigned", 4294967295u},
                                                     {"mediumint(9)", 8388607},
                                                     {"bigint(20) unsigned", UINT64_MAX},
                                                     {"integer", 0},
                                                     {"varchar(64)", 0}}) {
    EXPECT_EQ(IdHeadroom::MaxValue(type), max) << type;
  }
}

TEST_F(StorePingTest, LiveConnectionAnswersAndLogsNothing) {
  ConnectStore();
  EXPECT_TRUE(store_.Ping());
  EXPECT_TRUE(store_.IsConnected());
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
}

TEST_F(StorePingTest, StoreNeverConnectedReportsTheServerGone) {
  EXPECT_FALSE(store_.Ping());
  EXPECT_THAT(LogLines(), ElementsAre("MySQL server has gone away!"));
}

TEST_F(StorePingTest, CloseAndDestructionEndTheServerSession) {
  const std::string count_sessions =
      "select count(*) from information_schema.processlist where user='" + env().admin_user +
      "' and id<>connection_id()";
  ConnectStore();
  {
    AcdDatabase second(&log_);
    ASSERT_TRUE(second.Connect("localhost", env().admin_user, env().admin_password));
    EXPECT_EQ(Value(count_sessions), "2");
  }
  EXPECT_EQ(EventuallyValue(count_sessions, "1"), "1");
  store_.Close();
  EXPECT_FALSE(store_.IsConnected());
  EXPECT_EQ(EventuallyValue(count_sessions, "0"), "0");
  EXPECT_FALSE(store_.Ping());
  EXPECT_FALSE(store_.WriteGroup(kServer, "Sales", 1, 1, true, 0));
}

}  // namespace
}  // namespace callsink::test
