// The directory writers, grouped by table: stock_groups, stock_agents and
// stock_relations, with rows read back by SQL and the statements the server
// received compared byte for byte.
#include <string>

#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string TimeDiffStatement(const std::string& timestamp) {
  return "insert into stock_time ( Serv_Name, TimeDiff ) values ( \"acd1.example\", "
         "Unix_timestamp(Now())-" +
         timestamp + " ) ON DUPLICATE KEY UPDATE TimeDiff=Unix_timestamp(Now())-" + timestamp;
}

class StockGroupsTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) ConnectStore();
  }
  std::vector<std::string> Groups() {
    return Rows(
        "select Serv_Name, Group_Name, Timestamp, State, Modified, Calls_inQueue from "
        "stock_groups order by ID");
  }
};

TEST_F(StockGroupsTest, ListedGroupIsInsertedWithModifiedOneAndItsInsertText) {
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 1700000000, 1, true, 0));
  EXPECT_THAT(Groups(), ElementsAre("acd1.example|Sales|1700000000|1|1|0"));
  EXPECT_THAT(
      Sent(),
      ElementsAre("insert into stock_groups ( Serv_Name, Group_Name, Timestamp, State, Modified, "
                  "Calls_inQueue ) values ( \"acd1.example\", \"Sales\", 1700000000, 1, 1, 0 ) "
                  "ON DUPLICATE KEY UPDATE Timestamp=1700000000, State=1, "
                  "Modified=Modified+1, Calls_inQueue=0",
                  "insert into stock_time ( Serv_Name, TimeDiff ) values ( \"acd1.example\", "
                  "Unix_timestamp(Now())-1700000000 ) ON DUPLICATE KEY UPDATE "
                  "TimeDiff=Unix_timestamp(Now())-1700000000"));
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
}

TEST_F(StockGroupsTest, GroupUpdateKeepsTheRowAndCountsInModified) {
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 100, 1, true, 0));
  const std::string id = Value("select ID from stock_groups");
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 200, 5, true, 0));
  EXPECT_THAT(Groups(), ElementsAre("acd1.example|Sales|200|5|2|0"));
  EXPECT_EQ(Value("select ID from stock_groups"), id);
}

TEST_F(StockGroupsTest, CallEventSetsQueueAndStateButLeavesModified) {
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 100, 0, true, 0));
  ForgetStatements();
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 150, 1, false, 7));
  EXPECT_THAT(Groups(), ElementsAre("acd1.example|Sales|150|1|1|7"));
  EXPECT_THAT(Sent(),
              ElementsAre("insert into stock_groups ( Serv_Name, Group_Name, Timestamp, State, "
                          "Modified, Calls_inQueue ) values ( \"acd1.example\", \"Sales\", 150, "
                          "1, 1, 7 ) ON DUPLICATE KEY UPDATE Timestamp=150, State=1, "
                          "Calls_inQueue=7",
                          TimeDiffStatement("150")));
}

TEST_F(StockGroupsTest, CallEventForAnUnknownGroupInsertsItWithModifiedOne) {
  ASSERT_TRUE(store_.WriteGroup(kServer, "Support", 150, 1, false, 3));
  EXPECT_THAT(Groups(), ElementsAre("acd1.example|Support|150|1|1|3"));
}

TEST_F(StockGroupsTest, NextPassClearsTheRowAndWritesItAnewWithModifiedOne) {
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 100, 1, true, 0));
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 110, 1, true, 0));
  ASSERT_TRUE(store_.WriteGroup(kOtherServer, "Sales", 100, 1, true, 0));
  AcdDatabase next_pass(&log_);
  ASSERT_TRUE(next_pass.Connect("localhost", env().admin_user, env().admin_password));
  ASSERT_TRUE(next_pass.ClearServer(kServer));
  ASSERT_TRUE(next_pass.WriteGroup(kServer, "Sales", 300, 1, true, 0));
  EXPECT_THAT(Groups(),
              ElementsAre("acd2.example|Sales|100|1|1|0", "acd1.example|Sales|300|1|1|0"));
}

TEST_F(StockGroupsTest, NegativeStateAndQueueKeepTheirSign) {
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 100, -1, true, -2147483647 - 1));
  EXPECT_THAT(Groups(), ElementsAre("acd1.example|Sales|100|-1|1|-2147483648"));
  EXPECT_EQ(Sent().front(),
            "insert into stock_groups ( Serv_Name, Group_Name, Timestamp, State, Modified, "
            "Calls_inQueue ) values ( \"acd1.example\", \"Sales\", 100, -1, 1, -2147483648 ) ON "
            "DUPLICATE KEY UPDATE Timestamp=100, State=-1, Modified=Modified+1, "
            "Calls_inQueue=-2147483648");
}

TEST_F(StockGroupsTest, TimestampZeroWritesTheRowAndLeavesStockTimeAlone) {
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 0, 1, true, 0));
  EXPECT_THAT(Groups(), ElementsAre("acd1.example|Sales|0|1|1|0"));
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_THAT(Rows("select * from stock_time"), IsEmpty());
}

TEST_F(StockGroupsTest, FailedStatementLogsTheServerTextAndSkipsTheTimeDifference) {
  Exec("drop table stock_groups");
  ForgetStatements();
  EXPECT_FALSE(store_.WriteGroup(kServer, "Sales", 100, 1, true, 0));
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_EQ(LogLines().back(), "Table 'acd_db.stock_groups' doesn't exist");
  EXPECT_THAT(Rows("select * from stock_time"), IsEmpty());
}

TEST_F(StockGroupsTest, FailedTimeDifferenceMakesTheWriterFalseAfterItsRow) {
  Exec("drop table stock_time");
  EXPECT_FALSE(store_.WriteGroup(kServer, "Sales", 100, 1, true, 0));
  EXPECT_THAT(Groups(), ElementsAre("acd1.example|Sales|100|1|1|0"));
  EXPECT_EQ(LogLines().back(), "Table 'acd_db.stock_time' doesn't exist");
}

class StockAgentsTest : public StockGroupsTest {
 protected:
  std::vector<std::string> Agents() {
    return Rows(
        "select Serv_Name, Agent_Name, Agent_FullName, Timestamp, State, Modified from "
        "stock_agents order by ID");
  }
};

TEST_F(StockAgentsTest, ListedAgentIsInsertedWithItsInsertText) {
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann Smith", 1700000000, 1, true));
  EXPECT_THAT(Agents(), ElementsAre("acd1.example|1001|Ann Smith|1700000000|1|1"));
  EXPECT_THAT(Sent(),
              ElementsAre("insert into stock_agents ( Serv_Name, Agent_Name, Agent_FullName, "
                          "Timestamp, State, Modified ) values ( \"acd1.example\", \"1001\", "
                          "\"Ann Smith\", 1700000000, 1, 1 ) ON DUPLICATE KEY UPDATE "
                          "Timestamp=1700000000, Agent_FullName=\"Ann Smith\", State=1, "
                          "Modified=Modified+1",
                          TimeDiffStatement("1700000000")));
}

TEST_F(StockAgentsTest, ChangedFullNameKeepsTheRowAndItsId) {
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann Smith", 100, 1, true));
  const std::string id = Value("select ID from stock_agents");
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann Jones", 200, 0, true));
  EXPECT_THAT(Agents(), ElementsAre("acd1.example|1001|Ann Jones|200|0|2"));
  EXPECT_EQ(Value("select ID from stock_agents"), id);
}

TEST_F(StockAgentsTest, UpdateWithoutTheFlagLeavesModifiedAndOmitsItFromTheStatement) {
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann Smith", 100, 1, true));
  ForgetStatements();
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann Smith", 200, -3, false));
  EXPECT_THAT(Agents(), ElementsAre("acd1.example|1001|Ann Smith|200|-3|1"));
  EXPECT_EQ(Sent().front(),
            "insert into stock_agents ( Serv_Name, Agent_Name, Agent_FullName, Timestamp, State, "
            "Modified ) values ( \"acd1.example\", \"1001\", \"Ann Smith\", 200, -3, 1 ) ON "
            "DUPLICATE KEY UPDATE Timestamp=200, Agent_FullName=\"Ann Smith\", State=-3");
}

TEST_F(StockAgentsTest, SameAgentOnAnotherServerIsARowOfItsOwn) {
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann Smith", 100, 1, true));
  ASSERT_TRUE(store_.WriteAgent(kOtherServer, "1001", "Bob Brown", 100, 1, true));
  EXPECT_THAT(Agents(), ElementsAre("acd1.example|1001|Ann Smith|100|1|1",
                                    "acd2.example|1001|Bob Brown|100|1|1"));
}

class StockRelationsTest : public StockGroupsTest {
 protected:
  std::vector<std::string> Relations() {
    return Rows(
        "select Serv_Name, Group_Name, Agent_Name, Timestamp, State, Modified, Status from "
        "stock_relations order by ID");
  }
};

TEST_F(StockRelationsTest, ListedMembershipIsInsertedWithoutStatus) {
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "1001", 1700000000, 1, true));
  EXPECT_THAT(Relations(), ElementsAre("acd1.example|Sales|1001|1700000000|1|1|NULL"));
  EXPECT_THAT(Sent(),
              ElementsAre("insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, "
                          "Timestamp, State, Modified ) values ( \"acd1.example\", \"Sales\", "
                          "\"1001\", 1700000000, 1, 1 ) ON DUPLICATE KEY UPDATE "
                          "Timestamp=1700000000, State=1, Modified=Modified+1",
                          TimeDiffStatement("1700000000")));
}

TEST_F(StockRelationsTest, UpdateKeepsTheStatusAndCountsOnlyWithTheFlag) {
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "1001", 100, 1, true));
  ASSERT_TRUE(store_.WriteRelationStatus(kServer, "Sales", "1001", 110, 4));
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "1001", 120, 1, true));
  EXPECT_THAT(Relations(), ElementsAre("acd1.example|Sales|1001|120|1|2|4"));
  ForgetStatements();
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "1001", 130, -1, false));
  EXPECT_THAT(Relations(), ElementsAre("acd1.example|Sales|1001|130|-1|2|4"));
  EXPECT_EQ(Sent().front(),
            "insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, Timestamp, State, "
            "Modified ) values ( \"acd1.example\", \"Sales\", \"1001\", 130, -1, 1 ) ON "
            "DUPLICATE KEY UPDATE Timestamp=130, State=-1");
}

TEST_F(StockRelationsTest, EmptyAgentMarksEveryMembershipOfTheGroupAndNothingElse) {
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "1001", 100, 1, true));
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "1002", 100, 1, true));
  ASSERT_TRUE(store_.WriteRelation(kServer, "Support", "1001", 100, 1, true));
  ASSERT_TRUE(store_.WriteRelation(kOtherServer, "Sales", "1001", 100, 1, true));
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann Smith", 100, 1, true));
  ForgetStatements();

  // A GroupUpdate with state 0: the flag is true there, but the form counts
  // whatever the flag says.
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "", 200, 0, false));

  EXPECT_THAT(Relations(), ElementsAre("acd1.example|Sales|1001|200|0|2|NULL",
                                       "acd1.example|Sales|1002|200|0|2|NULL",
                                       "acd1.example|Support|1001|100|1|1|NULL",
                                       "acd2.example|Sales|1001|100|1|1|NULL"));
  EXPECT_THAT(Rows("select Timestamp, State, Modified from stock_agents"), ElementsAre("100|1|1"));
  EXPECT_THAT(Sent(), ElementsAre("UPDATE stock_relations SET Timestamp=200, State=0, "
                                  "Modified=Modified+1 WHERE Serv_Name=\"acd1.example\" "
                                  "and Group_Name=\"Sales\"; ",
                                  TimeDiffStatement("200")));
}

TEST_F(StockRelationsTest, EmptyAgentForAGroupWithoutMembershipsChangesNothingButTheClock) {
  ASSERT_TRUE(store_.WriteRelation(kServer, "Empty", "", 200, 0, true));
  EXPECT_THAT(Relations(), IsEmpty());
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Rows("select Serv_Name from stock_time").size(), 1u);
}

}  // namespace
}  // namespace callsink::test
