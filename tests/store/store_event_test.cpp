// The event writers, grouped by table: stock_status with stock_relations'
// status, stock_cdr, stock_calls and stock_time, with rows read back by SQL
// and the statements the server received compared byte for byte.
#include <cstdint>
#include <string>

#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class EventStoreTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) ConnectStore();
  }
};

class StockStatusTest : public EventStoreTest {
 protected:
  // A membership as the directory lists it, then, unless `status` is null,
  // the status a Status response gave it at `since`.
  void ListMembership(const char* agent, const int32_t* status, uint32_t since) {
    ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", agent, since, 1, true));
    if (status != nullptr) {
      ASSERT_TRUE(store_.WriteRelationStatus(kServer, "Sales", agent, since, *status));
    }
    ForgetStatements();
  }
  void ListMembership(const char* agent, int32_t status, uint32_t since) {
    ListMembership(agent, &status, since);
  }
  // What the dispatch does for a Status event.
  bool StatusEvent(const char* agent, int32_t status, uint32_t timestamp) {
    const bool interval = store_.WriteStatusInterval(kServer, "Sales", agent, timestamp, status);
    EXPECT_TRUE(store_.WriteRelationStatus(kServer, "Sales", agent, timestamp, status));
    return interval;
  }
  std::vector<std::string> Intervals() {
    return Rows(
        "select Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, Status from stock_status "
        "order by ID");
  }
  std::vector<std::string> Memberships() {
    return Rows(
        "select Agent_Name, Timestamp, State, Modified, Status from stock_relations order by "
        "ID");
  }
};

TEST_F(StockStatusTest, ChangeFromOneAt100ToTwoAt160ClosesTheInterval100To160) {
  ListMembership("1001", 1, 100);
  ASSERT_TRUE(StatusEvent("1001", 2, 160));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|100|160|1"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|160|1|1|2"));
  EXPECT_THAT(
      Sent(),
      ElementsAre(
          "select Timestamp, Status from stock_relations where Serv_Name=\"acd1.example\" "
          "and Group_Name=\"Sales\" and Agent_Name=\"1001\" and State=1",
          "insert into stock_status ( Serv_Name, Group_Name, Agent_Name, TimeStart, "
          "TimeEnd, Status ) values ( \"acd1.example\", \"Sales\", \"1001\", 100, 160, 1 ) ",
          "insert into stock_time ( Serv_Name, TimeDiff ) values ( \"acd1.example\", "
          "Unix_timestamp(Now())-160 ) ON DUPLICATE KEY UPDATE "
          "TimeDiff=Unix_timestamp(Now())-160",
          "insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, Timestamp, "
          "Status ) values ( \"acd1.example\", \"Sales\", \"1001\", 160, 2 ) ON "
          "DUPLICATE KEY UPDATE Status=2, Timestamp=160"));
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));
}

TEST_F(StockStatusTest, SameStatusAgainWritesNoIntervalButMovesTheTimestamp) {
  ListMembership("1001", 1, 100);
  ASSERT_TRUE(StatusEvent("1001", 2, 160));
  ASSERT_TRUE(StatusEvent("1001", 2, 200));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|100|160|1"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|200|1|1|2"));
}

TEST_F(StockStatusTest, ChangeAtTheStartTimeOrEarlierWritesNoInterval) {
  ListMembership("1001", 1, 100);
  ASSERT_TRUE(StatusEvent("1001", 2, 100));
  EXPECT_THAT(Intervals(), IsEmpty());
  EXPECT_THAT(Memberships(), ElementsAre("1001|100|1|1|2"));
  ASSERT_TRUE(StatusEvent("1001", 3, 90));
  EXPECT_THAT(Intervals(), IsEmpty());
  EXPECT_THAT(Memberships(), ElementsAre("1001|90|1|1|3"));
}

TEST_F(StockStatusTest, FirstStatusOfAListedMembershipGivesAZeroLengthInterval) {
  ListMembership("1001", nullptr, 100);
  ASSERT_TRUE(StatusEvent("1001", 4, 130));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|130|130|4"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|130|1|1|4"));
}

TEST_F(StockStatusTest, NoMembershipGivesAnIntervalFromZeroWithStatusZeroAndABareRow) {
  ASSERT_TRUE(StatusEvent("1001", 4, 130));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|0|130|0"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|130|NULL|NULL|4"));
}

TEST_F(StockStatusTest, InactiveMembershipCountsAsNoneAndKeepsItsState) {
  ListMembership("1001", 1, 100);
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "", 110, 0, true));
  ASSERT_TRUE(StatusEvent("1001", 2, 160));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|0|160|0"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|160|0|2|2"));
}

TEST_F(StockStatusTest, NegativeStatusesKeepTheirSign) {
  ListMembership("1001", -5, 100);
  ASSERT_TRUE(StatusEvent("1001", -7, 160));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|100|160|-5"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|160|1|1|-7"));
  EXPECT_EQ(Sent().back(),
            "insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, Timestamp, Status ) "
            "values ( \"acd1.example\", \"Sales\", \"1001\", 160, -7 ) ON DUPLICATE KEY UPDATE "
            "Status=-7, Timestamp=160");
}

TEST_F(StockStatusTest, TimestampsAbove2To31AreStoredAndComparedUnsigned) {
  ListMembership("1001", 1, 2147483647u);
  ASSERT_TRUE(StatusEvent("1001", 2, 2147483648u));
  ASSERT_TRUE(StatusEvent("1001", 3, 2147483700u));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|2147483647|2147483648|1",
                                       "acd1.example|Sales|1001|2147483648|2147483700|2"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|2147483700|1|1|3"));
}

TEST_F(StockStatusTest, HighestTimestampIsStoredEvenWhereTheClockDifferenceCannotBe) {
  ListMembership("1001", 1, 100);
  // Now minus 2^32-1 is below the smallest TimeDiff; that write fails and
  // says so, after the interval was stored.
  EXPECT_FALSE(StatusEvent("1001", 2, 4294967295u));
  EXPECT_THAT(Intervals(), ElementsAre("acd1.example|Sales|1001|100|4294967295|1"));
  EXPECT_THAT(Memberships(), ElementsAre("1001|4294967295|1|1|2"));
  EXPECT_EQ(LogLines().back(), "Out of range value for column 'TimeDiff' at row 1");
}

TEST_F(StockStatusTest, StatusResponseChangesOnlyTheMembershipsStatusAndTimestamp) {
  ListMembership("1001", 1, 100);
  ASSERT_TRUE(store_.WriteRelationStatus(kServer, "Sales", "1001", 1700000000, 6));
  EXPECT_THAT(Memberships(), ElementsAre("1001|1700000000|1|1|6"));
  EXPECT_THAT(Intervals(), IsEmpty());
  EXPECT_THAT(Sent(), ElementsAre("insert into stock_relations ( Serv_Name, Group_Name, "
                                  "Agent_Name, Timestamp, Status ) values ( "
                                  "\"acd1.example\", \"Sales\", \"1001\", 1700000000, 6 ) "
                                  "ON DUPLICATE KEY UPDATE Status=6, Timestamp=1700000000"));
}

TEST_F(StockStatusTest, FailedSelectLogsAndWritesNothingMore) {
  Exec("drop table stock_relations");
  ForgetStatements();
  EXPECT_FALSE(store_.WriteStatusInterval(kServer, "Sales", "1001", 160, 2));
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_EQ(LogLines().back(), "Table 'acd_db.stock_relations' doesn't exist");
  EXPECT_THAT(Rows("select * from stock_time"), IsEmpty());
}

TEST_F(StockStatusTest, FailedIntervalInsertLogsAndSkipsTheTimeDifference) {
  ListMembership("1001", 1, 100);
  Exec("delete from stock_time");
  Exec("drop table stock_status");
  ForgetStatements();
  EXPECT_FALSE(store_.WriteStatusInterval(kServer, "Sales", "1001", 160, 2));
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_EQ(LogLines().back(), "Table 'acd_db.stock_status' doesn't exist");
  EXPECT_THAT(Rows("select * from stock_time"), IsEmpty());
}

class StockCdrTest : public EventStoreTest {};

TEST_F(StockCdrTest, RecordIsInsertedWithItsInsertTextAndNoTimeDifference) {
  ASSERT_TRUE(
      store_.WriteCdr(kServer, "Sales", "1001", "caller7", "guid-1", 1700000000, 95, 2, 1, 12));
  EXPECT_THAT(Rows("select Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, Caller_Usur, "
                   "Call_GUID, Call_State, Close_Reason, Queue_Dur from stock_cdr"),
              ElementsAre("acd1.example|Sales|1001|1700000000|95|caller7|guid-1|2|1|12"));
  EXPECT_THAT(Sent(),
              ElementsAre("insert into stock_cdr ( Serv_Name, Group_Name, Agent_Name, Timestamp, "
                          "Call_Dur, Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur "
                          ") values ( \"acd1.example\", \"Sales\", \"1001\", 1700000000, 95, "
                          "\"caller7\", \"guid-1\", 2, 1, 12 ) "));
  EXPECT_THAT(Rows("select * from stock_time"), IsEmpty());
}

TEST_F(StockCdrTest, EqualRecordsAreTwoRowsAndNegativesKeepTheirSign) {
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(store_.WriteCdr(kServer, "Sales", "1001", "c", "g", 4294967295u, -1, -2, -3, -4));
  }
  EXPECT_THAT(Rows("select Timestamp, Call_Dur, Call_State, Close_Reason, Queue_Dur from "
                   "stock_cdr"),
              ElementsAre("4294967295|-1|-2|-3|-4", "4294967295|-1|-2|-3|-4"));
  EXPECT_EQ(Sent().front(),
            "insert into stock_cdr ( Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
            "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur ) values ( "
            "\"acd1.example\", \"Sales\", \"1001\", 4294967295, -1, \"c\", \"g\", -2, -3, -4 ) ");
}

class StockCallsTest : public EventStoreTest {};

TEST_F(StockCallsTest, CallIsInsertedWithItsInsertTextAndNoTimeDifference) {
  ASSERT_TRUE(store_.WriteCall(kServer, "Sales", "1001", "call-42", 1700000000, 3, 0));
  EXPECT_THAT(Rows("select Serv_Name, Group_Name, Agent_Name, Timestamp, Call_ID, Call_State, "
                   "Close_Reason from stock_calls"),
              ElementsAre("acd1.example|Sales|1001|1700000000|call-42|3|0"));
  EXPECT_THAT(
      Sent(),
      ElementsAre("insert into stock_calls ( Serv_Name, Group_Name, Agent_Name, "
                  "Timestamp, Call_ID, Call_State, Close_Reason ) values ( "
                  "\"acd1.example\", \"Sales\", \"1001\", 1700000000, \"call-42\", 3, 0 ) "));
  EXPECT_THAT(Rows("select * from stock_time"), IsEmpty());
}

TEST_F(StockCallsTest, EqualCallsAreTwoRowsAndNegativesKeepTheirSign) {
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(store_.WriteCall(kServer, "Sales", "1001", "c", 2147483648u, -1, -2147483647 - 1));
  }
  EXPECT_THAT(Rows("select Timestamp, Call_State, Close_Reason from stock_calls"),
              ElementsAre("2147483648|-1|-2147483648", "2147483648|-1|-2147483648"));
}

class StockTimeTest : public EventStoreTest {
 protected:
  uint32_t DatabaseClock() {
    return static_cast<uint32_t>(
        std::stoul(Value("select "
                         "unix_timestamp()")));
  }
};

TEST_F(StockTimeTest, AcdClockThirtySecondsBehindGivesThirty) {
  const uint32_t before = DatabaseClock();
  const uint32_t acd_clock = before - 30;
  ASSERT_TRUE(store_.WriteTimeDiff(kServer, acd_clock));
  const uint32_t after = DatabaseClock();
  const int64_t diff = std::stoll(Value("select TimeDiff from stock_time"));
  EXPECT_GE(diff, int64_t{before} - acd_clock);
  EXPECT_LE(diff, int64_t{after} - acd_clock);
  if (before == after) {
    EXPECT_EQ(diff, 30);
  }

  // A later write without a timestamp leaves it.
  ASSERT_TRUE(store_.WriteTimeDiff(kServer, 0));
  ASSERT_TRUE(store_.WriteCall(kServer, "Sales", "1001", "c", 0, 1, 0));
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 0, 1, false, 0));
  EXPECT_EQ(std::stoll(Value("select TimeDiff from stock_time")), diff);
}

TEST_F(StockTimeTest, OneRowPerServerOverwrittenEachTime) {
  const uint32_t now = DatabaseClock();
  ASSERT_TRUE(store_.WriteTimeDiff(kServer, now - 1000));
  ASSERT_TRUE(store_.WriteTimeDiff(kOtherServer, now + 1000));
  ASSERT_TRUE(store_.WriteTimeDiff(kServer, now + 2000));
  const std::vector<std::string> rows =
      Rows("select Serv_Name, TimeDiff < 0 from stock_time order by ID");
  EXPECT_THAT(rows, ElementsAre("acd1.example|1", "acd2.example|1"));
  EXPECT_LE(std::stoll(Value("select TimeDiff from stock_time where Serv_Name='acd1.example'")),
            -1999);
}

TEST_F(StockTimeTest, TimestampZeroSendsNothing) {
  ASSERT_TRUE(store_.WriteTimeDiff(kServer, 0));
  EXPECT_THAT(Sent(), IsEmpty());
}

}  // namespace
}  // namespace callsink::test
