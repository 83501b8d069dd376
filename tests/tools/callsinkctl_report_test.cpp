// `callsinkctl report` against the program's private MariaDB: its CSV is
// the engine's, byte for byte, and every way it can go wrong says why.
#include <gtest/gtest.h>
#include <mysql.h>

#include <string>
#include <vector>

#include "report/report_engine.h"
#include "report/report_request.h"
#include "report/report_sheet.h"
#include "tests/store/store_test.h"
#include "tests/tools/program_run.h"

namespace callsink {
namespace {

using test::ProgramRun;

class CallsinkctlReportTest : public test::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ConnectStore();
    // 2024-06-03 in Berlin: a call answered at 08:05, one abandoned at
    // 08:20 in a group whose name needs quoting, 1001 on the first call.
    Exec("insert into stock_groups (Serv_Name, Group_Name) values ('10.0.0.5', 'Sales')");
    Exec(
        "insert into stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
        "Caller_Usur, Call_GUID, Queue_Dur) values "
        "('10.0.0.5', 'Sales', '1001', 1717394700, 60, '+491', '{1}', 8),"
        "('10.0.0.5', 'Sales, \"B\xe4"
        "ck\"', '', 1717395600, 0, '+492', '{2}', 40)");
    Exec(
        "insert into stock_status (Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, "
        "Status) values ('10.0.0.5', 'Sales', '1001', 1717394400, 1717394700, 1),"
        "('10.0.0.5', 'Sales', '1001', 1717394700, 1717394768, 2)");
    const ProgramRun added =
        Ctl({"add", "--server", "10.0.0.5", "--user", env().admin_user, "--password-stdin"},
            env().admin_password + "\n");
    ASSERT_EQ(added.exit_code, 0) << added.err;
  }

  ProgramRun Ctl(const std::vector<std::string>& args, const std::string& input = "") {
    return ProgramRun::Run("callsinkctl", args, {{"CALLSINK_ROOT", dir_.path()}}, input);
  }

  static std::vector<std::string> Morning(const char* kind) {
    return {"report",           kind,      "--config",         "1",           "--from",
            "2024-06-03 08:00", "--until", "2024-06-03 09:00", "--time-zone", "Europe/Berlin"};
  }

  // What the engine itself makes of the same request.
  ReportSheet EngineSheet(const std::string& kind, const std::string& interval) {
    ReportRequest request{
        "2024-06-03 08:00", "2024-06-03 09:00", interval, "Europe/Berlin", {}, {}};
    std::string error;
    const std::optional<ReportParameters> parameters = request.Read(0, &error);
    EXPECT_TRUE(parameters) << error;
    MySqlConnection connection;
    EXPECT_TRUE(connection.Open("localhost", env().admin_user, env().admin_password));
    EXPECT_EQ(mysql_select_db(connection.get(), "acd_db"), 0);
    ReportEngine engine(connection);
    const TimeZone& zone = parameters->time_zone;
    if (kind == "groups") {
      std::vector<GroupRow> rows;
      EXPECT_TRUE(engine.Groups(*parameters, &rows)) << engine.error();
      return ReportSheet::OfGroups(rows, zone);
    }
    if (kind == "agents") {
      std::vector<AgentRow> rows;
      EXPECT_TRUE(engine.Agents(*parameters, &rows)) << engine.error();
      return ReportSheet::OfAgents(rows, zone);
    }
    std::vector<AbandonedCall> calls;
    EXPECT_TRUE(engine.Abandoned(*parameters, &calls)) << engine.error();
    return ReportSheet::OfAbandoned(calls, zone);
  }
};

TEST_F(CallsinkctlReportTest, WritesTheEnginesReportsAsCsvOrTable) {
  for (const char* kind : {"groups", "agents", "abandoned"}) {
    SCOPED_TRACE(kind);
    std::vector<std::string> args = Morning(kind);
    // Not a terminal: CSV.
    ProgramRun run = Ctl(args);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, EngineSheet(kind, "15m").Csv());
    EXPECT_GT(EngineSheet(kind, "15m").lines().size(), 0u);
    args.insert(args.end(), {"--interval", "30m", "--format", "table"});
    run = Ctl(args);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, EngineSheet(kind, "30m").Table());
  }
  EXPECT_EQ(Ctl(Morning("abandoned")).out,
            "server,group,time,waited,caller,call_guid\r\n"
            "10.0.0.5,\"Sales, \"\"B\xe4"
            "ck\"\"\",2024-06-03T08:20:00+02:00,40,+492,{2}\r\n");

  // A name cannot steer the terminal; CSV keeps its bytes.
  Exec(
      "insert into stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Queue_Dur) values "
      "('10.0.0.5', 'Ops\x1b[2J', '', 1717395700, 3)");
  std::vector<std::string> args = Morning("abandoned");
  args.insert(args.end(), {"--format", "table"});
  const ProgramRun table = Ctl(args);
  EXPECT_NE(table.out.find("Ops?[2J"), std::string::npos) << table.out;
  EXPECT_EQ(table.out.find('\x1b'), std::string::npos);
  EXPECT_NE(Ctl(Morning("abandoned")).out.find("Ops\x1b[2J"), std::string::npos);
}

TEST_F(CallsinkctlReportTest, SaysWhyThereIsNoReport) {
  struct Case {
    std::vector<std::string> extra;
    int exit_code;
    std::string message;
  };
  const Case cases[] = {
      {{"--interval", "5m"}, 2, "the interval is 15m, 30m, 60m or day, not \"5m\""},
      {{"--time-zone", "Mars/Olympus"}, 2, "there is no time zone \"Mars/Olympus\""},
      {{"--from", "June 3rd"}, 2, "--from is \"YYYY-MM-DD HH:MM\" or \"YYYY-MM-DD\""},
      {{"--from", "2024-06-03 08:10"}, 2, "the period begins and ends on a quarter hour"},
      {{"--until", "2024-06-02"}, 2, "the period ends before it begins"},
      {{"--format", "xml"}, 2, "the format is table or csv, not xml"},
      {{"--config", "2"}, 2, "there is no configuration 2 (1 to 1)"},
      {{"--server", "10.0.0.9"}, 0, "no data for the groups report in 2024-06-03T08:00:00+02:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = Morning("groups");
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ProgramRun run = Ctl(args);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Ctl({"report", "calls", "--config", "1"}).exit_code, 2);
  ProgramRun run = Ctl({"report", "groups", "--server", "10.0.0.9", "--config", "1"});
  EXPECT_EQ(run.out,
            "server,group,interval_start,interval_end,offered,answered,abandoned,"
            "service_level,average_wait,average_handle\r\n");

  Exec("drop database acd_db");
  run = Ctl(Morning("groups"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "callsinkctl: there is no database acd_db on localhost: the collector has stored "
            "nothing there yet\n");
}

}  // namespace
}  // namespace callsink
