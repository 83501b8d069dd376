// The board's report page's sheets: callsinkboard on a private MariaDB,
// read by a select-only user, answers /api/report with the very bytes the
// report engine writes for `callsinkctl report ... --format csv` (names
// with commas, quotes and 8-bit bytes included), and says what is wrong
// with a request.
#include <gtest/gtest.h>
#include <httplib.h>

#include <string>

#include "report/report_engine.h"
#include "report/report_request.h"
#include "store/mysql_connection.h"
#include "tests/board/board_system.h"
#include "tests/support/sql_client.h"

namespace callsink::test {
namespace {

TEST(BoardReportsTest, SheetsAreTheEnginesBytesAndBadRequestsAreNamed) {
  BoardSystem system;
  CALLSINK_REQUIRE_MARIADB(system.database_env());
  ASSERT_TRUE(system.StartBoard());
  const MariaDbEnv& env = *system.database_env();
  SqlClient admin(env);
  // 2024-06-03 08:00 UTC and after: answered, abandoned, in two groups.
  ASSERT_TRUE(admin.Exec(
      "insert into acd_db.stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
      "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur) values "
      "('acd1', 'Sales, \"East\"', '1001', 1717401900, 600, '+491', '{1}', 3, 1, 10),"
      "('acd1', 'Sales, \"East\"', '', 1717403000, 0, '+49 \\\"3\\\", \xe9', '{2}', 3, 3, 45),"
      "('acd1', 'Kundendienst M\xfcller', '1002', 1717404000, 300, '+494', '{3}', 3, 1, 5)"));
  httplib::Client client("127.0.0.1", system.port());
  ASSERT_TRUE(WaitUntil(10000, [&] { return client.Get("/reports") != nullptr; }))
      << system.BoardLog();

  MySqlConnection direct;
  ASSERT_TRUE(direct.Open("localhost", env.admin_user, env.admin_password));
  ASSERT_EQ(mysql_select_db(direct.get(), "acd_db"), 0);
  ReportEngine engine(direct);
  for (const char* kind : {"groups", "agents", "abandoned"}) {
    SCOPED_TRACE(kind);
    ReportRequest request{"2024-06-03 08:00", "2024-06-03 10:00", "30m", "UTC", {"acd1"}, {}};
    std::string error;
    const auto parameters = request.Read(0, &error);
    ASSERT_TRUE(parameters) << error;
    const auto sheet = engine.Sheet(kind, *parameters);
    ASSERT_TRUE(sheet) << engine.error();
    // No agent has a status here: its sheet is the header alone.
    EXPECT_EQ(sheet->lines().empty(), std::string(kind) == "agents");
    const auto answer = client.Get(std::string("/api/report?kind=") + kind +
                                   "&from=2024-06-03%2008:00&until=2024-06-03%2010:00&interval=30m"
                                   "&server=acd1&download=1");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200) << answer->body;
    EXPECT_EQ(answer->body, sheet->Csv());
    EXPECT_EQ(answer->get_header_value("Content-Disposition"),
              std::string("attachment; filename=\"") + kind + ".csv\"");
  }
  const auto abandoned = client.Get("/api/report?kind=abandoned&from=2024-06-03&server=acd1");
  ASSERT_TRUE(abandoned);
  EXPECT_NE(abandoned->body.find("\"+49 \"\"3\"\", \xe9\""), std::string::npos) << abandoned->body;

  const struct {
    const char* query;
    int status;
    const char* says;
  } refused[] = {
      {"kind=calls", 400, "the report is groups, agents or abandoned"},
      {"kind=groups&from=yesterday", 400, "yesterday"},
      {"kind=groups&from=2024-06-03%2008:07", 400, "quarter"},
      {"kind=groups&time_zone=Mars/Olympus", 400, "Mars/Olympus"},
  };
  for (const auto& r : refused) {
    const auto answer = client.Get(std::string("/api/report?") + r.query);
    ASSERT_TRUE(answer) << r.query;
    EXPECT_EQ(answer->status, r.status) << r.query;
    EXPECT_NE(answer->body.find(r.says), std::string::npos) << r.query << ": " << answer->body;
  }
  EXPECT_TRUE(system.BoardRunning()) << system.BoardLog();
}

}  // namespace
}  // namespace callsink::test
