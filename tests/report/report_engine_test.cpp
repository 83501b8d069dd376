// The report engine on the store's private server, over a small morning of
// two ACD servers whose figures are known, compared with docs/reports.sql
// and with the rows themselves.
#include "report/report_engine.h"

#include <gtest/gtest.h>
#include <mysql.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "report/report_period.h"
#include "report/report_sheet.h"
#include "tests/docs/reports_sql.h"
#include "tests/store/store_test.h"
#include "tests/support/child_process.h"

namespace callsink::test {
namespace {

constexpr int64_t T = 1717394400;  // 2024-06-03 08:00 in Berlin (+02:00), a Monday
const std::string kSales = "Sales, \"EU\"";
const std::string kSupport = "Supp\xf6rt";  // latin1

std::string Round(double value) { return std::to_string(static_cast<int64_t>(std::round(value))); }

std::string Percent(double share) { return Round(100 * share) + " %"; }

// A total as docs/reports.sql prints it.
std::string AsReportsSql(const GroupRow& row) {
  const GroupFigures& f = row.figures;
  const bool answered = f.answered > 0;
  return row.server + "|" + row.group + "|" + std::to_string(f.offered) + "|" +
         std::to_string(f.answered) + "|" + std::to_string(f.abandoned()) + "|" +
         Percent(f.service_level()) + "|" + (answered ? Round(f.average_wait()) : "NULL") + "|" +
         (answered ? Round(f.average_handle()) : "NULL");
}

std::string AsReportsSql(const AgentRow& row, bool named) {
  const AgentFigures& f = row.figures;
  char logged_on[16];
  std::snprintf(logged_on, sizeof logged_on, "%02d:%02d:%02d", static_cast<int>(f.logged_on / 3600),
                static_cast<int>(f.logged_on / 60 % 60), static_cast<int>(f.logged_on % 60));
  const bool handled = f.available + f.on_calls + f.wrap_up > 0;
  return row.server + "|" + row.agent + "|" + (named ? row.name : "NULL") + "|" +
         std::to_string(f.answered) + "|" + logged_on + "|" +
         (handled ? Percent(f.occupancy()) : "NULL");
}

class ReportEngineTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    ConnectStore();
    const std::string t = std::to_string(T);
    // Server, group, agent, came in (after 08:00), talk, caller, queue.
    Exec(
        "insert into stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
        "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur) values "
        "('acd1.example', '" +
        kSales + "', '1001', " + t +
        " + 300, 600, '+491', '{1}', 3, 1, 10),"
        "('acd1.example', '" +
        kSales + "', '1002', " + t +
        " + 1000, 300, '+492', '{2}', 3, 1, 30),"
        "('acd1.example', '" +
        kSales + "', '', " + t +
        " + 1100, 0, '+49 \"3\", \xe9', '{3}', 3, 3, 45),"
        "('acd1.example', '" +
        kSupport + "', '1001', " + t +
        " + 4000, 120, '+494', '{4}', 3, 1, 0),"
        "('acd1.example', '" +
        kSupport + "', NULL, " + t +
        " + 4100, 0, '+495', '{5}', 3, 3, 12),"
        "('acd1.example', '" +
        kSupport + "', '1002', " + t +
        " - 100, 60, '+496', '{6}', 3, 1, 0),"
        "('acd2.example', '" +
        kSales + "', '2001', " + t + " + 200, 50, '+497', '{7}', 3, 1, 5)");
    // 1001 logged on longest in Sales; a busy interval across 08:15, a break
    // across 08:30, the wrap-ups a moment after the calls' ends.
    std::string intervals =
        "insert into stock_status (Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, "
        "Status) values ";
    const std::tuple<const char*, std::string, const char*, int, int, int> rows[] = {
        {"acd1.example", kSales, "1001", -600, 305, 1},
        {"acd1.example", kSales, "1001", 305, 905, 2},
        {"acd1.example", kSales, "1001", 910, 1000, 3},
        {"acd1.example", kSales, "1001", 1000, 2700, 4},
        {"acd1.example", kSales, "1001", 2700, 4000, 1},
        {"acd1.example", kSales, "1001", 4000, 4120, 2},
        {"acd1.example", kSales, "1001", 4120, 4150, 3},
        {"acd1.example", kSales, "1001", 4150, 7200, 0},
        {"acd1.example", kSupport, "1001", 3600, 4000, 1},
        {"acd1.example", kSupport, "1001", 4000, 4120, 2},
        {"acd1.example", kSupport, "1001", 4122, 4150, 3},
        {"acd1.example", kSales, "1002", 0, 1000, 1},
        {"acd1.example", kSales, "1002", 1000, 1330, 2},
        {"acd1.example", kSales, "1002", 1331, 1351, 3},
        {"acd1.example", kSales, "1002", 1351, 3000, 1},
        {"acd2.example", kSales, "2001", 100, 200, 1},
        {"acd2.example", kSales, "2001", 200, 250, 2},
        {"acd2.example", kSales, "2001", 250, 20000, 1},
    };
    for (const auto& [server, group, agent, start, end, status] : rows) {
      intervals += std::string("('") + server + "', '" + group + "', '" + agent + "', " +
                   std::to_string(T + start) + ", " + std::to_string(T + end) + ", " +
                   std::to_string(status) + "),";
    }
    // 1002's current status, still open.
    Exec(intervals + "('acd1.example', '" + kSales + "', '1002', " + std::to_string(T + 3000) +
         ", 0, 1)");
    Exec(
        "insert into stock_agents (Serv_Name, Agent_Name, Agent_FullName) values "
        "('acd1.example', '1001', 'Berg, Anna \"A.\"'), ('acd1.example', '1002', 'J\xf6rg')");
    // The collector's directory names every server it stored rows of.
    Exec("insert into stock_groups (Serv_Name, Group_Name) values ('acd2.example', '" + kSales +
         "')");
    ASSERT_TRUE(connection_.Open("localhost", env().admin_user, env().admin_password));
    ASSERT_EQ(mysql_select_db(connection_.get(), "acd_db"), 0);
  }

  ReportParameters Morning(ReportInterval interval) {
    ReportParameters parameters;
    parameters.from = T;
    parameters.until = T + 4 * 3600;
    parameters.time_zone = *TimeZone::Named("Europe/Berlin");
    parameters.interval = interval;
    return parameters;
  }

  MySqlConnection connection_;
  ReportEngine engine_{connection_};
};

TEST_F(ReportEngineTest, IntervalsAddUpToTheTotalsOfDocsReportsSql) {
  const auto [sql_groups, sql_agents] = RunReportsSql(
      env(), dir_ / "reports.txt",
      "SET @from = " + std::to_string(T) + ", @until = " + std::to_string(T + 4 * 3600));
  ReportParameters whole = Morning(ReportInterval::kWhole);
  std::vector<GroupRow> group_totals;
  std::vector<AgentRow> agent_totals;
  ASSERT_TRUE(engine_.Groups(whole, &group_totals)) << engine_.error();
  ASSERT_TRUE(engine_.Agents(whole, &agent_totals)) << engine_.error();
  std::vector<std::string> groups, agents;
  for (const GroupRow& row : group_totals) groups.push_back(AsReportsSql(row));
  for (const AgentRow& row : agent_totals) agents.push_back(AsReportsSql(row, row.agent != "2001"));
  EXPECT_EQ(groups, sql_groups);
  EXPECT_EQ(agents, sql_agents);
  ASSERT_EQ(groups.size(), 3u);  // the data reached every row of both

  const std::pair<ReportInterval, size_t> intervals[] = {{ReportInterval::k15Minutes, 16},
                                                         {ReportInterval::k30Minutes, 8},
                                                         {ReportInterval::k60Minutes, 4},
                                                         {ReportInterval::kDay, 1}};
  for (const auto& [interval, count] : intervals) {
    SCOPED_TRACE(count);
    std::vector<GroupRow> group_rows;
    std::vector<AgentRow> agent_rows;
    ASSERT_TRUE(engine_.Groups(Morning(interval), &group_rows)) << engine_.error();
    ASSERT_TRUE(engine_.Agents(Morning(interval), &agent_rows)) << engine_.error();
    ASSERT_EQ(group_rows.size(), count * group_totals.size());
    ASSERT_EQ(agent_rows.size(), count * agent_totals.size());
    for (size_t total = 0; total < group_totals.size(); ++total) {
      GroupRow sum = group_rows[total * count];
      sum.end = group_rows[total * count + count - 1].end;
      for (size_t i = 1; i < count; ++i) sum.figures.Add(group_rows[total * count + i].figures);
      EXPECT_EQ(AsReportsSql(sum), groups[total]);
      EXPECT_EQ(std::tie(sum.start, sum.end),
                std::tie(group_totals[total].start, group_totals[total].end));
    }
    for (size_t total = 0; total < agent_totals.size(); ++total) {
      AgentFigures sum;
      for (size_t i = 0; i < count; ++i) {
        const AgentFigures& row = agent_rows[total * count + i].figures;
        sum.logged_on += row.logged_on;
        sum.available += row.available;
        sum.on_calls += row.on_calls;
        sum.wrap_up += row.wrap_up;
        sum.answered += row.answered;
      }
      const AgentFigures& expected = agent_totals[total].figures;
      EXPECT_EQ(std::tie(sum.logged_on, sum.available, sum.on_calls, sum.wrap_up, sum.answered),
                std::tie(expected.logged_on, expected.available, expected.on_calls,
                         expected.wrap_up, expected.answered));
    }
  }
}

TEST_F(ReportEngineTest, StatusIntervalsAreSplitAtTheRowsTheyCross) {
  ReportParameters parameters = Morning(ReportInterval::k15Minutes);
  parameters.servers = {"acd1.example"};
  std::vector<AgentRow> rows;
  ASSERT_TRUE(engine_.Agents(parameters, &rows)) << engine_.error();
  ASSERT_EQ(rows.size(), 32u);
  // 1001: available until 08:05:05, on the call until 08:15:05, wrap-up,
  // then a break from 08:16:40 until 08:45.
  const std::tuple<int64_t, int64_t, int64_t, int64_t, int64_t> expected[] = {
      // logged on, available, on calls, wrap-up, other
      {900, 305, 595, 0, 0},
      {895, 0, 5, 90, 800},
      {900, 0, 0, 0, 900},
      {900, 900, 0, 0, 0},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    const AgentFigures& f = rows[i].figures;
    EXPECT_EQ(std::make_tuple(f.logged_on, f.available, f.on_calls, f.wrap_up, f.other()),
              expected[i])
        << i;
    EXPECT_EQ(rows[i].start, T + static_cast<int64_t>(i) * 900);
  }
  EXPECT_EQ(rows[0].figures.answered, 1);  // the call of 08:05
  EXPECT_EQ(rows[16].agent, "1002");
  EXPECT_EQ(rows[16].name, "J\xf6rg");
}

TEST_F(ReportEngineTest, BusinessHoursAndWeekdaysLeaveTheirSlotsOut) {
  ReportParameters parameters = Morning(ReportInterval::k60Minutes);
  parameters.servers = {"acd1.example"};
  parameters.opens_minute = 8 * 60 + 15;
  parameters.closes_minute = 9 * 60 + 15;
  std::vector<GroupRow> groups;
  std::vector<AgentRow> agents;
  std::vector<AbandonedCall> abandoned;
  ASSERT_TRUE(engine_.Groups(parameters, &groups)) << engine_.error();
  ASSERT_TRUE(engine_.Agents(parameters, &agents)) << engine_.error();
  ASSERT_TRUE(engine_.Abandoned(parameters, &abandoned)) << engine_.error();
  // 08:15 to 09:00 and 09:00 to 09:15 of each group and agent; the call of
  // 08:05 is left out, the busy interval counts from 08:15.
  ASSERT_EQ(groups.size(), 4u);
  EXPECT_EQ(std::tie(groups[0].start, groups[0].end), std::make_tuple(T + 900, T + 3600));
  EXPECT_EQ(std::tie(groups[1].start, groups[1].end), std::make_tuple(T + 3600, T + 4500));
  EXPECT_EQ(groups[0].figures.offered, 2);
  EXPECT_EQ(groups[3].figures.offered, 2);  // Support's calls of 09:06 and 09:08
  ASSERT_EQ(agents.size(), 4u);
  EXPECT_EQ(agents[0].figures.on_calls, 5);
  EXPECT_EQ(agents[0].figures.answered, 0);
  EXPECT_EQ(agents[1].figures.logged_on, 550);  // logged out at 09:09:10
  EXPECT_EQ(abandoned.size(), 2u);

  parameters.weekdays[1] = false;  // 2024-06-03 is a Monday
  groups.clear();
  ASSERT_TRUE(engine_.Groups(parameters, &groups)) << engine_.error();
  EXPECT_TRUE(groups.empty());
}

TEST_F(ReportEngineTest, ADayWithADaylightSavingChangeHasItsHours) {
  // Calls at 02:30 in each of the two hours that the clock shows twice, and
  // at 03:30 on the day it skips 02:00 to 03:00.
  Exec(
      "insert into stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Queue_Dur, "
      "Call_Dur) values ('acd1.example', 'Night', '1001', 1729989000, 5, 60),"
      "('acd1.example', 'Night', '', 1729992600, 5, 0),"
      "('acd1.example', 'Night', '', 1711848600, 5, 0)");
  const TimeZone berlin = *TimeZone::Named("Europe/Berlin");
  const struct {
    const char* day;
    size_t hours;
    std::vector<std::tuple<size_t, std::string, int64_t>> calls;  // row, its start, offered
  } days[] = {
      {"2024-03-31",
       23,
       {{1, "2024-03-31T01:00:00+01:00", 0}, {2, "2024-03-31T03:00:00+02:00", 1}}},
      {"2024-10-27",
       25,
       {{2, "2024-10-27T02:00:00+02:00", 1},
        {3, "2024-10-27T02:00:00+01:00", 1},
        {4, "2024-10-27T03:00:00+01:00", 0}}},
  };
  for (const auto& day : days) {
    SCOPED_TRACE(day.day);
    ReportParameters parameters;
    parameters.time_zone = berlin;
    parameters.interval = ReportInterval::k60Minutes;
    parameters.groups = {"Night"};
    LocalTime midnight{};
    ASSERT_EQ(std::sscanf(day.day, "%d-%d-%d", &midnight.year, &midnight.month, &midnight.day), 3);
    parameters.from = berlin.FromLocal(midnight);
    midnight.day += 1;
    parameters.until = berlin.FromLocal(midnight);
    std::vector<GroupRow> rows;
    ASSERT_TRUE(engine_.Groups(parameters, &rows)) << engine_.error();
    ASSERT_EQ(rows.size(), day.hours);
    for (const auto& [row, start, offered] : day.calls) {
      EXPECT_EQ(berlin.Iso8601(rows[row].start), start);
      EXPECT_EQ(rows[row].end - rows[row].start, 3600);
      EXPECT_EQ(rows[row].figures.offered, offered) << start;
    }
    parameters.interval = ReportInterval::kDay;
    rows.clear();
    ASSERT_TRUE(engine_.Groups(parameters, &rows)) << engine_.error();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].end - rows[0].start, static_cast<int64_t>(day.hours) * 3600);
  }
}

TEST_F(ReportEngineTest, AbandonedCallsAreTheCdrsWithoutAnAgentAndReadBackFromCsv) {
  std::vector<AbandonedCall> calls;
  ASSERT_TRUE(engine_.Abandoned(Morning(ReportInterval::k15Minutes), &calls)) << engine_.error();
  std::vector<std::string> listed;
  for (const AbandonedCall& call : calls) {
    listed.push_back(call.server + "|" + call.group + "|" + std::to_string(call.time) + "|" +
                     std::to_string(call.waited) + "|" + call.caller + "|" + call.call_guid);
  }
  EXPECT_EQ(listed, Rows("select Serv_Name, Group_Name, Timestamp, Queue_Dur, Caller_Usur, "
                         "Call_GUID from stock_cdr where coalesce(Agent_Name, '') = '' and "
                         "Timestamp >= " +
                         std::to_string(T) + " order by Timestamp"));
  ASSERT_EQ(listed.size(), 2u);

  // Every sheet, read back by Python's csv module, gives its cells again.
  const TimeZone zone = *TimeZone::Named("Europe/Berlin");
  std::vector<GroupRow> groups;
  std::vector<AgentRow> agents;
  ASSERT_TRUE(engine_.Groups(Morning(ReportInterval::k60Minutes), &groups));
  ASSERT_TRUE(engine_.Agents(Morning(ReportInterval::k60Minutes), &agents));
  for (const ReportSheet& sheet :
       {ReportSheet::OfGroups(groups, zone), ReportSheet::OfAgents(agents, zone),
        ReportSheet::OfAbandoned(calls, zone)}) {
    const std::string csv = dir_ / "sheet.csv";
    const std::string cells = dir_ / "cells.txt";
    TempDir::WriteFile(csv, sheet.Csv());
    ChildProcess python("/usr/bin/python3",
                        {"-c",
                         "import csv, sys\n"
                         "with open(sys.argv[1], newline='', encoding='latin1') as f:\n"
                         "  rows = list(csv.reader(f, strict=True))\n"
                         "sys.stdout.buffer.write('\\x1e'.join('\\x1f'.join(r) for r in rows)"
                         ".encode('latin1'))\n",
                         csv},
                        {}, {}, cells);
    ASSERT_EQ(python.WaitExit(30000), std::optional<int>(0)) << TempDir::ReadFile(cells);
    std::string expected;
    for (size_t i = 0; i <= sheet.lines().size(); ++i) {
      const std::vector<std::string>& line = i == 0 ? sheet.header() : sheet.lines()[i - 1];
      if (i > 0) expected += '\x1e';
      for (size_t j = 0; j < line.size(); ++j) expected += (j > 0 ? "\x1f" : "") + line[j];
    }
    EXPECT_EQ(TempDir::ReadFile(cells), expected);
  }
  EXPECT_EQ(ReportSheet::OfAbandoned(calls, zone).lines()[0],
            (std::vector<std::string>{"acd1.example", kSales, "2024-06-03T08:18:20+02:00", "45",
                                      "+49 \"3\", \xe9", "{3}"}));
}

}  // namespace
}  // namespace callsink::test
