// The two halves of a worker against acdsim and a private MariaDB: a long
// stream journaled by the reader and applied in batches (by two appliers in
// turn, so that the second loads its membership cache from the table) gives
// the very rows the same messages give one statement at a time, a refused
// value and a name the cache cannot answer for included; failures that
// time cures are waited out and said once per outage.
#include "worker/journal_applier.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <span>
#include <thread>

#include "health/worker_stats.h"
#include "platform/manual_reset_event.h"
#include "tests/protocol/wire_bytes.h"
#include "tests/support/child_process.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/sql_client.h"
#include "tests/support/temp_dir.h"
#include "worker/acd_reader.h"
#include "worker/journal.h"
#include "worker/link_state.h"

namespace callsink {
namespace {

constexpr char kEvents[] = "8000";

class JournalApplierTest : public ::testing::Test {
 protected:
  // One server for the suite: the client library reads its socket once per
  // process.
  static void SetUpTestSuite() {
    server_ = new test::MariaDbServer;
    if (server_->Start()) server_->env()->ExportToClientLibrary();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    CALLSINK_REQUIRE_MARIADB(server_->env());
    const char* bin = std::getenv("CALLSINK_BIN");
    acdsim_ =
        std::filesystem::absolute(std::string(bin != nullptr ? bin : "build/bin") + "/acdsim");
    previous_ = std::filesystem::current_path();
    test::TempDir::MakeFolder(dir_ / "logs");
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    ASSERT_TRUE(log_.Open("worker"));
    ASSERT_TRUE(journal_.Open());
  }
  void TearDown() override {
    if (!previous_.empty()) {
      ASSERT_EQ(chdir(previous_.c_str()), 0);
    }
  }

  // Journals what acdsim sends until its centre has sent them all.
  void Read() {
    const std::string output = dir_ / "acdsim.out";
    test::ChildProcess acdsim(
        acdsim_,
        {"--listen", "127.0.0.1:0", "--groups", "4", "--agents", "30", "--rate", "0", "--events",
         kEvents, "--seed", "3", "--start-time", "3000000000", "--directory-changes", "400"},
        {}, {}, output);
    ASSERT_TRUE(test::WaitUntil(5000, [&] {
      return test::TempDir::ReadFile(output).find("listening") != std::string::npos;
    }));
    const std::string text = test::TempDir::ReadFile(output);
    ServerConfig acd;
    acd.acdServer = "127.0.0.1";
    acd.acdPort = std::atoi(text.c_str() + text.rfind(':') + 1);
    ManualResetEvent stop;
    AcdReader reader({acd, &log_, &journal_, &state_, &stats_, &stop});
    std::thread reading([&] { reader.Run(); });
    uint64_t seen = 0;
    test::WaitUntil(30000, [&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      const uint64_t now = journal_.durable();
      const bool still = now == seen;
      seen = now;
      return still && now > 8000;
    });
    stop.Set();
    reading.join();
  }

  // Adds one event of `type` with `body` to the journal.
  void AddEvent(uint16_t type, const test::WireBytes& body) {
    test::WireBytes message;
    message.Header(2, type, 0, 0, static_cast<uint32_t>(20 + body.size()), 3000900000);
    std::vector<uint8_t> bytes = message.bytes();
    bytes.insert(bytes.end(), body.bytes().begin(), body.bytes().end());
    ASSERT_EQ(journal_.Add(journal::EntryKind::kMessage, 1700000000000000, bytes),
              Journal::AddResult::kAdded);
    ASSERT_TRUE(journal_.Commit());
  }

  // Runs an applier for `server` until the journal is applied up to `until`.
  void Apply(const std::string& server, uint64_t until) {
    ServerConfig config;
    config.acdServer = server;
    config.mysqlServer = "localhost";
    config.mysqlUser = server_->env()->admin_user;
    config.mysqlPassword = server_->env()->admin_password;
    ManualResetEvent stop;
    // Retries come at once and then after the interval: a short one keeps
    // the outages of the refusal cases short.
    WorkerOptions options;
    options.retry_interval_ms = 200;
    JournalApplier applier({config, &log_, &journal_, &state_, &stats_, &stop, &options});
    std::thread applying([&] { applier.Run(); });
    EXPECT_TRUE(test::WaitUntil(60000, [&] { return journal_.applied() >= until; }));
    stop.Set();
    applying.join();
    batches_committed_ += applier.batches_committed();
    batches_by_statement_ += applier.batches_by_statement();
  }

  // The journal written one statement at a time, as each message would be
  // at once, for `server`.
  void ApplyByStatement(const std::string& server) {
    AcdDatabase database(&log_);
    ASSERT_TRUE(
        database.Connect("localhost", server_->env()->admin_user, server_->env()->admin_password));
    DatabaseWriter writer(&database);
    ActivityLog quiet;
    MessageDispatch dispatch(server, &quiet, nullptr, &writer);
    JournalCursor cursor(&journal_);
    JournalEntry entry;
    while (cursor.Next(&entry)) {
      if (entry.kind == journal::EntryKind::kPassStart) {
        database.ClearServer(server);
        continue;
      }
      const AcdHeader header = HeaderToHost(std::span<const uint8_t, 20>(entry.payload.data(), 20));
      dispatch.Handle(header, entry.payload.data() + 20, entry.payload.size() - 20,
                      static_cast<uint32_t>(entry.received_us / 1000000));
    }
  }

  // Every row of `server`, table by table, all columns but ID and Serv_Name;
  // the history in the order written.
  std::vector<std::string> Rows(const std::string& server) {
    struct Query {
      const char* columns_and_table;
      const char* order;
    };
    static constexpr Query kQueries[] = {
        {"Group_Name, Timestamp, State, Modified, Calls_inQueue from acd_db.stock_groups", "1"},
        {"Agent_Name, Agent_FullName, Timestamp, State, Modified from acd_db.stock_agents", "1"},
        {"Group_Name, Agent_Name, Timestamp, State, Modified, Status from acd_db.stock_relations",
         "1, 2"},
        {"Group_Name, Agent_Name, TimeStart, TimeEnd, Status from acd_db.stock_status", "ID"},
        {"Group_Name, Agent_Name, Timestamp, Call_Dur, Caller_Usur, Call_GUID, Call_State, "
         "Close_Reason, Queue_Dur from acd_db.stock_cdr",
         "ID"},
        {"Group_Name, Agent_Name, Timestamp, Call_ID, Call_State, Close_Reason from "
         "acd_db.stock_calls",
         "ID"},
        {"count(*) from acd_db.stock_time", "1"},
    };
    test::SqlClient sql(*server_->env());
    std::vector<std::string> rows;
    for (const Query& query : kQueries) {
      for (const std::string& row :
           sql.Rows(std::string("select ") + query.columns_and_table + " where Serv_Name='" +
                    server + "' order by " + query.order)) {
        rows.push_back(std::string(query.columns_and_table) + ": " + row);
      }
    }
    return rows;
  }

  static inline test::MariaDbServer* server_ = nullptr;
  test::TempDir dir_;
  std::string acdsim_;
  std::string previous_;
  ActivityLog log_;
  callsink::Journal journal_{{dir_ / "spool", uint64_t{1} << 30, 1 << 20}, &log_};
  WorkerStats stats_;
  LinkState state_{dir_ / "no-registry.db", "Config1", &stats_};
  uint64_t batches_committed_ = 0;
  uint64_t batches_by_statement_ = 0;
};

TEST_F(JournalApplierTest, BatchesWriteTheRowsThatStatementsOneByOneWrite) {
  Read();
  const uint64_t streamed = journal_.durable();
  ASSERT_GT(streamed, 8000u);
  // A state the column refuses, then a group spelt as the table does not
  // tell from another, then the stream goes on.
  AddEvent(3, test::WireBytes().Name("Sales").Name("").Be32(300).Name(""));
  AddEvent(0, test::WireBytes().Name("1001").Name("SALES").Be32(4));
  AddEvent(0, test::WireBytes().Name("1001").Name("Sales").Be32(1));

  Apply("batched", streamed / 2);
  ASSERT_LT(journal_.applied(), streamed) << "the second applier has work left";
  Apply("batched", journal_.durable());
  ApplyByStatement("by-statement");

  const std::vector<std::string> batched = Rows("batched");
  EXPECT_EQ(batched, Rows("by-statement"));
  EXPECT_GT(batched.size(), 5000u);
  EXPECT_GE(batches_by_statement_, 1u);
  EXPECT_LT(batches_by_statement_, batches_committed_ / 2);
  // Rows count once committed, a folded statement by its rows, and not at
  // all in a batch rolled back (the first applier stopped in one).
  const WorkerStats::Snapshot figures = stats_.Read();
  test::SqlClient sql(*server_->env());
  for (const auto table :
       {WorkerStats::Table::kStatus, WorkerStats::Table::kCdr, WorkerStats::Table::kCalls}) {
    const char* name = WorkerStats::kTableNames[static_cast<size_t>(table)];
    EXPECT_EQ(
        std::to_string(figures.rows[static_cast<size_t>(table)]),
        sql.Rows(std::string("select count(*) from acd_db.") + name + " where Serv_Name='batched'")
            .at(0))
        << name;
  }
  EXPECT_EQ(figures.latency_count, journal_.durable());
  EXPECT_EQ(figures.backlog_entries, 0u);
  const std::string log = test::TempDir::ReadFile(dir_ / "logs/acd_worker.log");
  size_t refused = 0;
  for (size_t at = log.find("Out of range value for column 'State'"); at != std::string::npos;
       at = log.find("Out of range value for column 'State'", at + 1)) {
    ++refused;
  }
  EXPECT_EQ(refused, 2u) << log;
}

// With a retention period the applier deletes its own server's expired
// history between its batches, and nobody else's.
TEST_F(JournalApplierTest, RetentionDeletesOnlyItsServersExpiredHistoryBetweenBatches) {
  {
    AcdDatabase database(&log_);
    ASSERT_TRUE(
        database.Connect("localhost", server_->env()->admin_user, server_->env()->admin_password));
    ASSERT_TRUE(database.CreateTables());
  }
  test::SqlClient sql(*server_->env());
  for (const std::string server : {"retained", "neighbour"}) {
    ASSERT_TRUE(sql.Exec("insert into acd_db.stock_cdr (Serv_Name, Timestamp) select '" + server +
                         "', seq from acd_db.seq_1_to_12000"));
    ASSERT_TRUE(
        sql.Exec("insert into acd_db.stock_status (Serv_Name, TimeStart, TimeEnd) values ('" +
                 server + "', 5, 10)"));
  }
  AddEvent(0, test::WireBytes().Name("1001").Name("Sales").Be32(1));
  AddEvent(0, test::WireBytes().Name("1001").Name("Sales").Be32(2));
  ServerConfig config;
  config.acdServer = "retained";
  config.mysqlServer = "localhost";
  config.mysqlUser = server_->env()->admin_user;
  config.mysqlPassword = server_->env()->admin_password;
  config.retentionDays = 1;
  ManualResetEvent stop;
  JournalApplier applier({config, &log_, &journal_, &state_, &stats_, &stop});
  std::thread applying([&] { applier.Run(); });
  const std::string log_file = dir_ / "logs/acd_worker.log";
  EXPECT_TRUE(test::WaitUntil(60000, [&] {
    return journal_.applied() >= journal_.durable() &&
           test::TempDir::ReadFile(log_file).find("Retention: ") != std::string::npos;
  }));
  stop.Set();
  applying.join();
  EXPECT_NE(test::TempDir::ReadFile(log_file).find(
                "Retention: 12001 rows older than 1 days deleted (stock_status 1, stock_cdr "
                "12000, stock_calls 0)"),
            std::string::npos);
  EXPECT_EQ(sql.Rows("select count(*) from acd_db.stock_cdr where Serv_Name='retained'").at(0),
            "0");
  EXPECT_EQ(sql.Rows("select count(*) from acd_db.stock_status where Serv_Name='retained' and "
                     "TimeEnd=3000900000")
                .at(0),
            "2")
      << "the events' intervals are no history yet";
  EXPECT_EQ(sql.Rows("select count(*) from acd_db.stock_cdr where Serv_Name='neighbour'").at(0),
            "12000");
  EXPECT_EQ(sql.Rows("select count(*) from acd_db.stock_status where Serv_Name='neighbour'").at(0),
            "1");
  EXPECT_EQ(stats_.Read().retention_deleted[static_cast<size_t>(WorkerStats::Table::kCdr)], 12000u);
}

// The server refuses the batch a set number of times with a given error (a
// trigger on stock_groups, its budget in a table without transactions, so
// that the rollback keeps the count): a refused commit (a cluster's
// certification conflict) is tried again at once without a line, and makes
// an outage only when the retry is refused too; an error during a commit
// and a node not ready yet are outages. Each outage says so once, and the
// row comes in all the same.
TEST_F(JournalApplierTest, RefusedBatchesAreTriedAgainAndSaidOncePerOutage) {
  {
    AcdDatabase database(&log_);
    ASSERT_TRUE(
        database.Connect("localhost", server_->env()->admin_user, server_->env()->admin_password));
    ASSERT_TRUE(database.CreateTables());
  }
  test::SqlClient sql(*server_->env());
  ASSERT_TRUE(sql.Exec("create database faults"));
  ASSERT_TRUE(sql.Exec("create table faults.budget (code int, left_over int) engine=Aria"));
  ASSERT_TRUE(
      sql.Exec("create trigger acd_db.refuse before insert on acd_db.stock_groups for each row "
               "begin declare refused int default coalesce((select code from faults.budget "
               "where left_over > 0 limit 1), 0); if refused <> 0 then update faults.budget set "
               "left_over = left_over - 1; signal sqlstate 'HY000' set mysql_errno = refused, "
               "message_text = 'refused'; end if; end"));
  struct Case {
    int code;
    int refusals;
    int lines;
  };
  static constexpr Case kCases[] = {{1213, 1, 0}, {1213, 2, 1}, {1180, 1, 1}, {1047, 1, 1}};
  const std::string log_file = dir_ / "logs/acd_worker.log";
  for (const Case& refusal : kCases) {
    const std::string server =
        "refused-" + std::to_string(refusal.code) + "x" + std::to_string(refusal.refusals);
    ASSERT_TRUE(sql.Exec("delete from faults.budget"));
    ASSERT_TRUE(sql.Exec("insert into faults.budget values (" + std::to_string(refusal.code) +
                         ", " + std::to_string(refusal.refusals) + ")"));
    const std::string before = test::TempDir::ReadFile(log_file);
    AddEvent(3, test::WireBytes().Name("Sales").Name("").Be32(1).Name(""));
    Apply(server, journal_.durable());
    const std::string log = test::TempDir::ReadFile(log_file).substr(before.size());
    size_t lines = 0;
    for (size_t at = log.find("Database writes stopped"); at != std::string::npos;
         at = log.find("Database writes stopped", at + 1)) {
      ++lines;
    }
    EXPECT_EQ(lines, static_cast<size_t>(refusal.lines)) << server << ":\n" << log;
    EXPECT_EQ(sql.Value("select left_over from faults.budget"), "0") << server;
    EXPECT_EQ(
        sql.Value("select count(*) from acd_db.stock_groups where Serv_Name='" + server + "'"), "1")
        << server;
  }
}

}  // namespace
}  // namespace callsink
