// The board's snapshot and its JSON on a small known day in a private
// MariaDB, read by a user who may only select: the day's figures equal
// docs/reports.sql's for the same local day, whose edges are the time
// zone's midnights (23 hours apart on the day the clocks go forward), and
// each ACD server's times are moved by its own stock_time row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_json.h"
#include "board/local_clock.h"
#include "board/snapshot_query.h"
#include "tests/docs/reports_sql.h"
#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

// 2024-03-31 00:00 and 2024-04-01 00:00 in Europe/Berlin: 23 hours; twelve
// hours in, the clock shows 13:00.
constexpr int64_t kDayStart = 1711839600;
constexpr int64_t kDayEnd = 1711922400;
constexpr int64_t kMidday = kDayStart + 12 * 3600;
// stock_time: the database host's clock minus each ACD server's.
constexpr int64_t kAcd1Behind = 3600;
constexpr int64_t kAcd2Ahead = 30;
constexpr char kHostile[] = "<img src=x onerror=alert(1)>";
constexpr char kEightBit[] = "Kundendienst M\xFCller";  // latin1, as the collector stores it

class BoardSnapshotTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    ConnectStore();
    ASSERT_TRUE(LocalClock::Use("Europe/Berlin"));
    Exec("CREATE USER IF NOT EXISTS 'board_reader'@'localhost' IDENTIFIED BY 'reader'");
    Exec("GRANT SELECT ON acd_db.* TO 'board_reader'@'localhost'");
    settings_.user = "board_reader";
    settings_.password = "reader";

    Exec("insert into stock_time (Serv_Name, TimeDiff) values ('acd1.example', " +
         std::to_string(kAcd1Behind) + "), ('acd2.example', " + std::to_string(-kAcd2Ahead) + ")");
    const int64_t a0 = kDayStart - kAcd1Behind, a1 = kDayEnd - kAcd1Behind;
    const int64_t b0 = kDayStart + kAcd2Ahead, b1 = kDayEnd + kAcd2Ahead;
    std::string cdrs =
        "insert into stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
        "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur) values ";
    const auto cdr = [&](const char* server, const std::string& group, const char* agent,
                         int64_t time, int queue) {
      cdrs += std::string(cdrs.back() == ')' ? "," : "") + "('" + server + "', '" + group + "', '" +
              agent + "', " + std::to_string(time) + ", 60, '+49', '{g}', 3, 1, " +
              std::to_string(queue) + ")";
    };
    cdr("acd1.example", "Sales", "1001", a0 - 1, 5);  // the day before
    cdr("acd1.example", "Sales", "1001", a0, 5);
    cdr("acd1.example", "Sales", "1002", a0 + 7200, 30);
    cdr("acd1.example", "Sales", "", a0 + 7300, 40);
    cdr("acd1.example", "Sales", "1002", a1 - 1, 20);  // a 24-hour day would take the next too
    cdr("acd1.example", "Sales", "1001", a1, 3);       // the day after
    cdr("acd1.example", kHostile, "1001", a0 + 100, 25);
    cdr("acd1.example", kEightBit, "", a0 + 200, 12);
    cdr("acd2.example", "Sales", "2001", b0 - 1, 10);  // acd1's day, not acd2's
    cdr("acd2.example", "Sales", "2001", b0, 10);
    cdr("acd2.example", "Sales", "2001", b1 - 1, 50);
    Exec(cdrs);

    Exec(
        "insert into stock_groups (Serv_Name, Group_Name, State, Calls_inQueue) values "
        "('acd1.example', 'Sales', 1, 2), ('acd1.example', 'Support', 1, 1), "
        "('acd1.example', '" +
        std::string(kHostile) +
        "', 1, 0), ('acd1.example', 'Old', 0, 0), ('acd2.example', "
        "'Sales', 1, 0)");
    // Calls still queued at midday: 75 s in Sales, 130 s (over the limit)
    // in Support; one that an agent took is no longer waiting.
    const int64_t acd1_now = kMidday - kAcd1Behind;
    Exec(
        "insert into stock_calls (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_ID, "
        "Call_State, Close_Reason) values "
        "('acd1.example', 'Sales', '', " +
        std::to_string(acd1_now - 75) +
        ", 'c1', 1, 0),"
        "('acd1.example', 'Sales', '', " +
        std::to_string(acd1_now - 500) +
        ", 'c2', 1, 0),"
        "('acd1.example', 'Sales', '1001', " +
        std::to_string(acd1_now - 400) +
        ", 'c2', 2, 0),"
        "('acd1.example', 'Support', '', " +
        std::to_string(acd1_now - 130) + ", 'c3', 1, 0)");
    Exec(
        "insert into stock_relations (Serv_Name, Group_Name, Agent_Name, State, Status, "
        "Timestamp) values "
        "('acd1.example', 'Sales', '1001', 1, 2, " +
        std::to_string(acd1_now - 40) +
        "),"
        "('acd1.example', 'Support', '1001', 1, 2, " +
        std::to_string(acd1_now - 40) +
        "),"
        "('acd1.example', 'Sales', '1002', 1, 4, 0),"
        "('acd1.example', 'Sales', '1003', 0, 1, 0)");
    Exec(
        "insert into stock_agents (Serv_Name, Agent_Name, Agent_FullName) values "
        "('acd1.example', '1001', 'Anna Berg')");
  }

  BoardSnapshot Take(int64_t now) {
    SnapshotQuery query(settings_);
    std::string error;
    std::optional<BoardSnapshot> snapshot = query.Take(now, &error);
    EXPECT_TRUE(snapshot.has_value()) << error;
    return snapshot.value_or(BoardSnapshot{});
  }

  // Each group with calls as docs/reports.sql prints it.
  static std::vector<std::string> AsReport(const BoardSnapshot& snapshot) {
    std::vector<std::string> rows;
    const auto text = [](const std::optional<int64_t>& value) {
      return value ? std::to_string(*value) : std::string("NULL");
    };
    for (const BoardGroup& group : snapshot.groups) {
      if (group.offered == 0) continue;
      rows.push_back(group.server + "|" + group.group + "|" + std::to_string(group.offered) + "|" +
                     std::to_string(group.answered) + "|" + std::to_string(group.abandoned) + "|" +
                     text(group.service_level) + " %|" + text(group.average_wait));
    }
    return rows;
  }

  // docs/reports.sql's groups of one server's local day, without the
  // handle time the board does not show.
  std::vector<std::string> ReportsSql(const char* server, int64_t from, int64_t until) {
    const ReportsSqlTable groups = RunReportsSql(env(), dir_ / "report.txt",
                                                 std::string("SET @server = '") + server +
                                                     "', @from = " + std::to_string(from) +
                                                     ", @until = " + std::to_string(until))
                                       .first;
    std::vector<std::string> rows;
    for (const std::string& row : groups) {
      rows.push_back(BoardJson::Utf8(row.substr(0, row.rfind('|'))));
    }
    return rows;
  }

  BoardSettings settings_;
};

TEST_F(BoardSnapshotTest, TodayEqualsTheReportOfTheLocalDay) {
  const BoardSnapshot midday = Take(kMidday);
  EXPECT_EQ(midday.day_start, kDayStart);
  std::vector<std::string> expected =
      ReportsSql("acd1.example", kDayStart - kAcd1Behind, kDayEnd - kAcd1Behind);
  const std::vector<std::string> acd2 =
      ReportsSql("acd2.example", kDayStart + kAcd2Ahead, kDayEnd + kAcd2Ahead);
  expected.insert(expected.end(), acd2.begin(), acd2.end());
  EXPECT_EQ(AsReport(midday), expected);
  EXPECT_EQ(expected, (std::vector<std::string>{
                          std::string("acd1.example|") + kHostile + "|1|1|0|0 %|25",
                          "acd1.example|" + BoardJson::Utf8(kEightBit) + "|1|0|1|0 %|NULL",
                          "acd1.example|Sales|4|3|1|50 %|18",
                          "acd2.example|Sales|2|2|0|50 %|30",
                      }));

  // After the next local midnight only the call that came in at it counts.
  const BoardSnapshot next_day = Take(kDayEnd + 60);
  EXPECT_EQ(AsReport(next_day), (std::vector<std::string>{"acd1.example|Sales|1|1|0|100 %|3"}));

  // A 23-, a 25- and a 24-hour day.
  for (const auto& [moment, hours] :
       {std::pair{kMidday, 23}, std::pair{int64_t{1729980000} + 7200, 25},
        std::pair{int64_t{1730070000} + 7200, 24}}) {
    EXPECT_EQ(LocalClock::DayEnd(moment) - LocalClock::DayStart(moment), hours * 3600) << moment;
  }
}

TEST_F(BoardSnapshotTest, QueuesAndAgentsOnTheDatabaseClock) {
  const BoardSnapshot snapshot = Take(kMidday);
  std::vector<std::string> queues;
  for (const BoardGroup& group : snapshot.groups) {
    std::string states;
    for (const auto& [code, count] : group.agents_by_state) {
      states += " " + std::to_string(code) + ":" + std::to_string(count);
    }
    queues.push_back(group.server + "|" + group.group + "|" + std::to_string(group.waiting) + "|" +
                     (group.longest_wait ? std::to_string(*group.longest_wait) : "none") + states);
  }
  EXPECT_EQ(queues, (std::vector<std::string>{
                        std::string("acd1.example|") + kHostile + "|0|none",
                        "acd1.example|" + BoardJson::Utf8(kEightBit) + "|0|none",
                        "acd1.example|Sales|2|75 2:1 4:1",
                        "acd1.example|Support|1|130 2:1",
                        "acd2.example|Sales|0|none",
                    }));
  std::vector<std::string> agents;
  for (const BoardAgent& agent : snapshot.agents) {
    agents.push_back(agent.agent + "|" + agent.name + "|" + agent.group + "|" +
                     std::to_string(agent.state) + "|" + std::to_string(agent.since) + "|" +
                     std::to_string(agent.answered));
  }
  const std::string busy_since = std::to_string(kMidday - 40);
  EXPECT_EQ(agents, (std::vector<std::string>{
                        "1001|Anna Berg|Sales|2|" + busy_since + "|2",
                        "1001|Anna Berg|Support|2|" + busy_since + "|2",
                        "1002||Sales|4|0|2",
                    }));

  // The JSON: names as UTF-8 text that cannot become markup, the filters
  // of the address, the groups that stand out.
  const std::string hostile_group = BoardJson::Render(
      snapshot, 7, {}, settings_, BoardFilter({"acd1.example"}, {kHostile, "Support"}));
  EXPECT_NE(hostile_group.find(R"("group":"\u003cimg src=x onerror=alert(1)\u003e")"),
            std::string::npos)
      << hostile_group;
  EXPECT_EQ(hostile_group.find('<'), std::string::npos);
  EXPECT_NE(hostile_group.find(R"("group":"Support","waiting":1,"longest_wait":130,"offered":0,)"
                               R"("answered":0,"abandoned":0,"service_level":null,)"
                               R"("average_wait":null,"below_target":false,)"
                               R"("over_wait_limit":true,"agents_by_state":{"Busy":1}})"),
            std::string::npos)
      << hostile_group;
  EXPECT_EQ(hostile_group.find("Sales"), std::string::npos);
  const std::string acd2 = BoardJson::Render(snapshot, 7, {false, kMidday}, settings_,
                                             BoardFilter({"acd2.example"}, {}));
  EXPECT_NE(acd2.find(R"("snapshot":7,"database":{"reachable":false,"unreachable_since":)" +
                      std::to_string(kMidday) + R"(,"unreachable_since_clock":"13:00:00"})"),
            std::string::npos)
      << acd2;
  EXPECT_NE(acd2.find(R"("service_level":50,"average_wait":30,"below_target":true)"),
            std::string::npos)
      << acd2;
  EXPECT_EQ(acd2.find("acd1"), std::string::npos);
  EXPECT_NE(BoardJson::Render(snapshot, 7, {}, settings_, {}).find("Kundendienst M\xC3\xBCller"),
            std::string::npos);
}

TEST_F(BoardSnapshotTest, OnlySelectsAndSaysWhyItCannot) {
  ForgetStatements();
  EXPECT_EQ(Take(kMidday).groups.size(), 5u);
  EXPECT_EQ(Rows("select argument from mysql.general_log where user_host like 'board_reader%' "
                 "and command_type = 'Query' and argument not like 'SELECT %' and argument "
                 "not like 'SET SESSION sql_mode = %'"),
            std::vector<std::string>{});
  EXPECT_NE(Value("select count(*) from mysql.general_log where user_host like 'board_reader%' "
                  "and argument like 'SELECT %'"),
            "0");

  settings_.password = "wrong";
  SnapshotQuery query(settings_);
  std::string error;
  EXPECT_FALSE(query.Take(kMidday, &error).has_value());
  EXPECT_NE(error.find("Access denied"), std::string::npos) << error;
}

}  // namespace
}  // namespace callsink::test
