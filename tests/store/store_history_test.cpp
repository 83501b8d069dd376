// The history tables at scale against the program's private MariaDB server:
// their indexes, added by collectors at once or left to the operator, and
// retention.
#include <gtest/gtest.h>

#include <thread>

#include "store/history_retention.h"
#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class StoreHistoryTest : public StoreTest {
 protected:
  // "table|index|columns" of every index on a history table but the key.
  std::vector<std::string> HistoryIndexes() {
    return Rows(
        "select table_name, index_name, group_concat(column_name order by seq_in_index) from "
        "information_schema.statistics where table_schema='acd_db' and index_name<>'PRIMARY' "
        "and table_name in ('stock_status','stock_cdr','stock_calls') "
        "group by table_name, index_name order by table_name, index_name");
  }
};

TEST_F(StoreHistoryTest, TwoCollectorsAtOnceIndexSmallTablesOnceAndSayNothing) {
  ConnectStore();
  Exec("insert into stock_cdr (Serv_Name, Timestamp) values ('acd1.example', 1), ('x', 2)");
  store_.Close();
  // Both find the indexes missing; one adds each, the other finds it there.
  std::vector<std::thread> collectors;
  for (const char* name : {"first", "second"}) {
    collectors.emplace_back([this, name] {
      ActivityLog log;
      ASSERT_TRUE(log.Open(name));
      AcdDatabase store(&log);
      ASSERT_TRUE(store.Connect("localhost", env().admin_user, env().admin_password));
      ASSERT_TRUE(store.CreateTables());
      store.AddHistoryIndexes();
    });
  }
  for (std::thread& collector : collectors) collector.join();
  EXPECT_THAT(HistoryIndexes(), ElementsAre("stock_calls|Serv_Time|Serv_Name,Timestamp",
                                            "stock_cdr|Serv_Time|Serv_Name,Timestamp",
                                            "stock_status|Serv_End|Serv_Name,TimeEnd",
                                            "stock_status|Serv_Time|Serv_Name,TimeStart,TimeEnd"));
  for (const char* name : {"first", "second"}) {
    const std::string log = TempDir::ReadFile(dir_ / (std::string("logs/acd_") + name + ".log"));
    EXPECT_EQ(log.find("Connected to database"), log.rfind("Connected to database")) << log;
    EXPECT_EQ(log.find("rror"), std::string::npos) << log;
    EXPECT_EQ(log.find("Duplicate"), std::string::npos) << log;
  }
  // Indexed tables are only looked at.
  ASSERT_TRUE(store_.Connect("localhost", env().admin_user, env().admin_password));
  ForgetStatements();
  store_.AddHistoryIndexes();
  EXPECT_THAT(Sent(), IsEmpty());
}

TEST_F(StoreHistoryTest, TableAboveTheLimitIsNamedAndLeftToTheOperator) {
  ConnectStore();
  Exec("insert into stock_calls (Serv_Name, Timestamp) values ('a', 1), ('a', 2), ('b', 3)");
  // An index of the operator's own on the same leading columns will do.
  Exec("create index mine on stock_cdr (Serv_Name, Timestamp, Agent_Name)");
  store_.AddHistoryIndexes(2);
  EXPECT_THAT(Sent(), ElementsAre("alter table stock_status add index `Serv_Time` "
                                  "(`Serv_Name`,`TimeStart`,`TimeEnd`), ALGORITHM=INPLACE, "
                                  "LOCK=NONE",
                                  "alter table stock_status add index `Serv_End` "
                                  "(`Serv_Name`,`TimeEnd`), ALGORITHM=INPLACE, LOCK=NONE"));
  EXPECT_THAT(LogLines(),
              ElementsAre("Connected to database (localhost)",
                          "Table stock_calls has 3 rows and no index on (Serv_Name, Timestamp): "
                          "reports and deletions read it whole; add the index with `callsinkctl "
                          "database add-indexes` in a quiet hour"));
  EXPECT_THAT(HistoryIndexes(), ElementsAre("stock_cdr|mine|Serv_Name,Timestamp,Agent_Name",
                                            "stock_status|Serv_End|Serv_Name,TimeEnd",
                                            "stock_status|Serv_Time|Serv_Name,TimeStart,TimeEnd"));
}

// The ACD server's clock runs 1000 s behind the database's; a day is kept.
TEST_F(StoreHistoryTest, RetentionDeletesTheExpiredRowsOfItsOwnServerAChunkAtATime) {
  ConnectStore();
  const std::string expired = "unix_timestamp() - 1000 - 86400 - 10";
  const std::string kept = "unix_timestamp() - 1000 - 86400 + 100";
  Exec("insert into stock_time (Serv_Name, TimeDiff) values ('acd1.example', 1000)");
  for (const std::string server : {"'acd1.example'", "'acd2.example'"}) {
    Exec("insert into stock_cdr (Serv_Name, Timestamp) select " + server + ", " + expired +
         " from seq_1_to_12000");
    Exec("insert into stock_cdr (Serv_Name, Timestamp) values (" + server + ", " + kept + ")");
    Exec("insert into stock_calls (Serv_Name, Timestamp) values (" + server + ", " + expired +
         "), (" + server + ", " + kept + ")");
    // Ended before the limit; ended after it though begun before; begun after it.
    Exec("insert into stock_status (Serv_Name, TimeStart, TimeEnd) values (" + server + ", " +
         expired + " - 50, " + expired + "), (" + server + ", " + expired + " - 50, " + kept +
         "), (" + server + ", " + kept + ", " + kept + " + 5)");
  }
  WorkerStats stats;
  HistoryRetention retention(&store_, &log_, &stats, kServer, 1);
  const auto start = HistoryRetention::Clock::now();
  int chunks = 0;
  while (retention.Due(start) && chunks < 10) {
    ASSERT_TRUE(retention.Step(start));
    ++chunks;
  }
  EXPECT_EQ(chunks, 5) << "stock_status 1, stock_cdr 3, stock_calls 1";
  EXPECT_THAT(Rows("select Serv_Name, count(*) from stock_cdr group by Serv_Name"),
              ElementsAre("acd1.example|1", "acd2.example|12001"));
  EXPECT_THAT(Rows("select Serv_Name, count(*) from stock_calls group by Serv_Name"),
              ElementsAre("acd1.example|1", "acd2.example|2"));
  EXPECT_THAT(Rows("select Serv_Name, count(*) from stock_status group by Serv_Name"),
              ElementsAre("acd1.example|2", "acd2.example|3"));
  EXPECT_EQ(LogLines().back(),
            "Retention: 12002 rows older than 1 days deleted (stock_status 1, stock_cdr 12000, "
            "stock_calls 1)");
  const WorkerStats::Snapshot figures = stats.Read();
  EXPECT_EQ(figures.retention_deleted[static_cast<size_t>(WorkerStats::Table::kCdr)], 12000u);
  EXPECT_EQ(figures.retention_deleted[static_cast<size_t>(WorkerStats::Table::kStatus)], 1u);

  // The next pass comes after the interval, and says nothing without rows.
  EXPECT_FALSE(retention.Due(start + HistoryRetention::kInterval / 2));
  ASSERT_TRUE(retention.Due(start + HistoryRetention::kInterval));
  const size_t lines = LogLines().size();
  while (retention.Due(start + HistoryRetention::kInterval)) {
    ASSERT_TRUE(retention.Step(start + HistoryRetention::kInterval));
  }
  EXPECT_EQ(LogLines().size(), lines);
}

}  // namespace
}  // namespace callsink::test
