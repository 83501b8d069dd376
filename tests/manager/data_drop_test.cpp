#include <gtest/gtest.h>
#include <mysql.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "manager/data_drop_db.h"
#include "manager/data_drop_flow.h"
#include "tests/manager/manager_fakes.h"
#include "tests/store/store_test.h"

namespace callsink {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

const std::vector<std::string> kTables = {"stock_groups", "stock_agents", "stock_relations",
                                          "stock_calls",  "stock_cdr",    "stock_status",
                                          "stock_time"};

// The data drop against the program's private MariaDB server, with acd_db
// made by the collector's own store and rows of several ACD servers in
// every table.
class DataDropTest : public test::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ConnectStore();
    for (const std::string server : {"10.0.0.5", "10.0.0.6"}) AddRows(server);
    ForgetStatements();
  }

  // One row of `server` in each of the seven tables.
  void AddRows(const std::string& server) {
    std::string quoted(server.size() * 2 + 1, '\0');
    quoted.resize(mysql_real_escape_string(admin_.get(), quoted.data(), server.data(),
                                           static_cast<unsigned long>(server.size())));
    for (const std::string& table : kTables) {
      Exec("insert into " + table + " (Serv_Name) values ('" + quoted + "')");
    }
  }
  // How many rows `server` has in each table, in table order.
  std::vector<std::string> RowCounts(const std::string& server) {
    std::vector<std::string> counts;
    for (const std::string& table : kTables) {
      counts.push_back(
          Value("select count(*) from acd_db." + table + " where Serv_Name = '" + server + "'"));
    }
    return counts;
  }
  DataDropFlow::Outcome RunFlow(const std::string& password) {
    DataDropFlow flow(messages_, dialog_);
    return flow.Run("localhost", env().admin_user, password);
  }

  test::ScriptedMessageBox messages_;
  test::ScriptedDataDropDialog dialog_;
};

// One query per table, so that a table missing or unreadable hides no
// server whose rows the others hold.
const std::vector<std::string> kServerQueries = {
    "select distinct Serv_Name from stock_groups",    "select distinct Serv_Name from stock_agents",
    "select distinct Serv_Name from stock_relations", "select distinct Serv_Name from stock_calls",
    "select distinct Serv_Name from stock_cdr",       "select distinct Serv_Name from stock_status",
    "select distinct Serv_Name from stock_time"};

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

const std::vector<std::string> kAll(7, "1");
const std::vector<std::string> kNone(7, "0");

TEST_F(DataDropTest, OffersAllFirstThenEveryServerOnceAndCancelDeletesNothing) {
  EXPECT_EQ(RunFlow(env().admin_password), DataDropFlow::Outcome::kCancelled);
  EXPECT_EQ(dialog_.opened, 1);
  EXPECT_EQ(dialog_.shown_server, "localhost");
  ASSERT_FALSE(dialog_.choices.empty());
  EXPECT_EQ(dialog_.choices[0], "All");
  EXPECT_THAT(std::vector<std::string>(dialog_.choices.begin() + 1, dialog_.choices.end()),
              UnorderedElementsAre("10.0.0.5", "10.0.0.6"));
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(RowCounts("10.0.0.5"), kAll);
  EXPECT_EQ(Statements(), Joined({kSessionModes}, kServerQueries));
}

TEST_F(DataDropTest, DeletingOneServerRunsTheSevenDeletesInOrderAndKeepsTheOthers) {
  dialog_.server = "10.0.0.5";
  EXPECT_EQ(RunFlow(env().admin_password), DataDropFlow::Outcome::kServerDeleted);
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{"Information deleted"}));
  std::vector<std::string> expected = Joined({kSessionModes}, kServerQueries);
  for (const std::string& table : kTables) {
    const bool history = table == "stock_calls" || table == "stock_cdr" || table == "stock_status";
    expected.push_back("delete from " + table + " where Serv_Name=\"10.0.0.5\"" +
                       (history ? " limit 10000" : ""));
  }
  EXPECT_EQ(Statements(), expected);
  EXPECT_THAT(dialog_.progress, ElementsAre("stock_calls 1", "stock_cdr 1", "stock_status 1"));
  EXPECT_EQ(dialog_.progress_ended, 1);
  EXPECT_EQ(RowCounts("10.0.0.5"), kNone);
  EXPECT_EQ(RowCounts("10.0.0.6"), kAll);
}

TEST_F(DataDropTest, FailingDeleteStopsAtThatTableAndSaysWhy) {
  Exec("drop table acd_db.stock_relations");
  CDataDropDb db(messages_);
  ASSERT_TRUE(db.Connect("localhost", env().admin_user, env().admin_password));
  EXPECT_FALSE(db.DeleteServerData("10.0.0.5"));
  EXPECT_EQ(messages_.shown,
            (std::vector<std::string>{"Cleaning tables failed: Table 'acd_db.stock_relations' "
                                      "doesn't exist (2 rows deleted)"}));
  EXPECT_EQ(Value("select count(*) from acd_db.stock_groups where Serv_Name='10.0.0.5'"), "0");
  EXPECT_EQ(Value("select count(*) from acd_db.stock_agents where Serv_Name='10.0.0.5'"), "0");
  for (const char* table : {"stock_calls", "stock_cdr", "stock_status", "stock_time"}) {
    EXPECT_EQ(
        Value(std::string("select count(*) from acd_db.") + table + " where Serv_Name='10.0.0.5'"),
        "1")
        << table << " was touched after the failure";
  }
  // The rest is still offered, so that the deletion can be finished.
  std::vector<std::string> names;
  ASSERT_TRUE(db.GetServerNames(&names));
  EXPECT_THAT(names, UnorderedElementsAre("10.0.0.5", "10.0.0.6"));
}

TEST_F(DataDropTest, HistoryGoesInChunksAndExactlyThatServersWhileAnotherServerIsWritten) {
  Exec(
      "insert into acd_db.stock_cdr (Serv_Name, Timestamp) select '10.0.0.5', seq from "
      "seq_1_to_25000");
  std::atomic<bool> deleted{false};
  uint32_t written = 0;
  std::thread collector([&] {
    ActivityLog log;
    ASSERT_TRUE(log.Open("10.0.0.6"));
    AcdDatabase store(&log);
    ASSERT_TRUE(store.Connect("localhost", env().admin_user, env().admin_password));
    while (!deleted || written < 100) {
      ASSERT_TRUE(store.WriteCdr("10.0.0.6", "Sales", "1001", "555", "g", ++written, 1, 1, 0, 1));
    }
  });
  dialog_.server = "10.0.0.5";
  EXPECT_EQ(RunFlow(env().admin_password), DataDropFlow::Outcome::kServerDeleted);
  deleted = true;
  collector.join();
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{"Information deleted"}));
  EXPECT_THAT(dialog_.progress, ElementsAre("stock_calls 1", "stock_cdr 10000", "stock_cdr 20000",
                                            "stock_cdr 25001", "stock_status 1"));
  EXPECT_EQ(RowCounts("10.0.0.5"), kNone);
  EXPECT_EQ(Value("select count(*) from acd_db.stock_cdr where Serv_Name='10.0.0.6'"),
            std::to_string(written + 1));
}

TEST_F(DataDropTest, AllDropsTheDatabaseAndASecondDropSaysWhyItFailed) {
  dialog_.choice = 0;
  EXPECT_EQ(RunFlow(env().admin_password), DataDropFlow::Outcome::kDatabaseDropped);
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{"Database deleted"}));
  EXPECT_EQ(Value("select count(*) from information_schema.schemata where schema_name='acd_db'"),
            "0");

  // Without acd_db the connection still succeeds and only "All" is offered.
  EXPECT_EQ(RunFlow(env().admin_password), DataDropFlow::Outcome::kFailed);
  EXPECT_EQ(dialog_.choices, (std::vector<std::string>{"All"}));
  EXPECT_EQ(messages_.shown.back(),
            "Drop database failed: Can't drop database 'acd_db'; database doesn't exist");
}

TEST_F(DataDropTest, AServerNamedAllIsCleanedAloneByItsPlaceInTheList) {
  AddRows("All");
  dialog_.server = "All";
  EXPECT_EQ(RunFlow(env().admin_password), DataDropFlow::Outcome::kServerDeleted);
  EXPECT_EQ(RowCounts("All"), kNone);
  EXPECT_EQ(RowCounts("10.0.0.5"), kAll) << "the database was not dropped";
}

TEST_F(DataDropTest, NamesWithQuotesBackslashesAndHighBytesMatchExactlyThemselves) {
  const std::string odd = "acd \"7\" \\ \xe9";
  const std::string injection = "\" or \"\"=\"";
  AddRows(odd);
  AddRows("acd ");
  CDataDropDb db(messages_);
  ASSERT_TRUE(db.Connect("localhost", env().admin_user, env().admin_password));
  std::vector<std::string> names;
  ASSERT_TRUE(db.GetServerNames(&names));
  EXPECT_NE(std::find(names.begin(), names.end(), odd), names.end()) << "listed byte for byte";

  EXPECT_TRUE(db.DeleteServerData(injection));
  EXPECT_EQ(RowCounts("10.0.0.5"), kAll) << "a quote in the name cannot widen the delete";
  EXPECT_TRUE(db.DeleteServerData(odd));
  EXPECT_EQ(Value("select count(*) from acd_db.stock_cdr where Serv_Name like 'acd \"7\"%'"), "0");
  EXPECT_EQ(RowCounts("acd "), kAll);
  EXPECT_EQ(RowCounts("10.0.0.6"), kAll);
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(DataDropTest, WrongPasswordSaysConnectionFailedAndOpensNoDialog) {
  EXPECT_EQ(RunFlow("wrong"), DataDropFlow::Outcome::kConnectFailed);
  EXPECT_EQ(dialog_.opened, 0);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(messages_.shown[0].starts_with("Connection failed: Access denied for user"))
      << messages_.shown[0];
  EXPECT_EQ(messages_.shown[0].find("wrong"), std::string::npos);
}

TEST_F(DataDropTest, UserWithoutTheRightToDropSeesTheServersReason) {
  CDataDropDb db(messages_);
  ASSERT_TRUE(db.Connect("localhost", env().limited_user, env().limited_password));
  std::vector<std::string> names;
  EXPECT_TRUE(db.GetServerNames(&names));
  EXPECT_FALSE(db.DropDatabase());
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(messages_.shown[0].starts_with("Drop database failed: Access denied"))
      << messages_.shown[0];
  EXPECT_EQ(RowCounts("10.0.0.5"), kAll);
}

}  // namespace
}  // namespace callsink
