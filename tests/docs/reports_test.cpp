// docs/reports.sql run by the mariadb client, as a user runs it, on tables
// the store made, holding a small day whose report is known.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/docs/reports_sql.h"
#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

using Table = ReportsSqlTable;

class ReportsTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    ConnectStore();
    // Two calls answered in Sales (one quickly, one after 30 s), one
    // abandoned there, one answered in Support; another server's call.
    Exec(
        "insert into stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
        "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur) values "
        "('acd1.example', 'Sales', '1001', 1000, 100, '+491', '{1}', 3, 1, 5),"
        "('acd1.example', 'Sales', '1002', 1010, 200, '+492', '{2}', 3, 2, 30),"
        "('acd1.example', 'Sales', '', 1020, 0, '+493', '{3}', 3, 3, 40),"
        "('acd1.example', 'Support', '1001', 1300, 60, '+494', '{4}', 3, 1, 0),"
        "('acd2.example', 'Sales', '2001', 1000, 50, '+495', '{5}', 3, 1, 10)");
    // 1001 is in both groups: the same day in each, but Support heard of it
    // later. 1002's wrap-up was reported a second after its call ended.
    std::string intervals =
        "insert into stock_status (Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, "
        "Status) values ";
    for (const auto& [group, first] : {std::pair{"Sales", 900}, std::pair{"Support", 950}}) {
      const int day[][3] = {{first, 1005, 1}, {1005, 1105, 2}, {1105, 1135, 3}, {1135, 1300, 1},
                            {1300, 1360, 2},  {1360, 1400, 4}, {1400, 1500, 0}};
      for (const auto& [start, end, status] : day) {
        intervals += "('acd1.example', '" + std::string(group) + "', '1001', " +
                     std::to_string(start) + ", " + std::to_string(end) + ", " +
                     std::to_string(status) + "),";
      }
    }
    Exec(intervals +
         "('acd1.example', 'Sales', '1002', 0, 1000, 0),"
         "('acd1.example', 'Sales', '1002', 1000, 1040, 1),"
         "('acd1.example', 'Sales', '1002', 1040, 1241, 2),"
         "('acd1.example', 'Sales', '1002', 1241, 1261, 3),"
         "('acd1.example', 'Sales', '1002', 1261, 1500, 1),"
         "('acd2.example', 'Sales', '2001', 900, 1010, 1),"
         "('acd2.example', 'Sales', '2001', 1010, 1060, 2),"
         "('acd2.example', 'Sales', '2001', 1060, 1100, 3)");
    Exec(
        "insert into stock_agents (Serv_Name, Agent_Name, Agent_FullName) values "
        "('acd1.example', '1001', 'Anna Berg'), ('acd1.example', '1002', 'Ben Dahl')");
  }

  // The report's two tables with `settings` made first, each row as its
  // columns joined by "|".
  std::pair<Table, Table> Report(const std::string& settings) {
    return RunReportsSql(env(), dir_ / "report.txt", settings);
  }
};

TEST_F(ReportsTest, GroupsAndAgentsOfEveryServer) {
  const auto [groups, agents] = Report("SET @nothing = 0");
  EXPECT_EQ(groups, (Table{
                        // offered, answered, abandoned, service level, wait,
                        // talk and wrap-up
                        "acd1.example|Sales|3|2|1|33 %|18|175",
                        "acd1.example|Support|1|1|0|100 %|0|60",
                        "acd2.example|Sales|1|1|0|100 %|10|90",
                    }));
  EXPECT_EQ(agents, (Table{
                        // answered, logged on, on calls and in wrap-up out of
                        // the time not logged out or on a break
                        "acd1.example|1001|Anna Berg|2|00:08:20|41 %",
                        "acd1.example|1002|Ben Dahl|1|00:08:20|44 %",
                        "acd2.example|2001|NULL|1|00:03:20|45 %",
                    }));
}

TEST_F(ReportsTest, OneServerInAPeriod) {
  const auto [groups, agents] = Report("SET @server = 'acd1.example', @from = 1015, @until = 1400");
  EXPECT_EQ(groups, (Table{
                        "acd1.example|Sales|1|0|1|0 %|NULL|NULL",
                        "acd1.example|Support|1|1|0|100 %|0|60",
                    }));
  EXPECT_EQ(agents, (Table{
                        "acd1.example|1001|Anna Berg|1|00:06:25|52 %",
                        "acd1.example|1002|Ben Dahl|0|00:06:25|57 %",
                    }));
}

}  // namespace
}  // namespace callsink::test
