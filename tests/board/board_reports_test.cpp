// The board's report page's sheets: callsinkboard on a private MariaDB,
// read by a select-only user, answers /api/report with the very bytes the
// report engine writes for `callsinkctl report ... --format csv` (names
// with commas, quotes and 8-bit bytes included), and says what is wrong
// with a request.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <string>

#include "platform/activity_log.h"
#include "report/report_engine.h"
#include "report/report_request.h"
#include "store/acd_database.h"
#include "store/mysql_connection.h"
#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/sql_client.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {
namespace {

TEST(BoardReportsTest, SheetsAreTheEnginesBytesAndBadRequestsAreNamed) {
  MariaDbServer server;
  server.Start();
  CALLSINK_REQUIRE_MARIADB(server.env());
  const MariaDbEnv& env = *server.env();
  env.ExportToClientLibrary();
  TempDir dir;
  TempDir::MakeFolder(dir / "logs");
  const std::filesystem::path previous_folder = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    ActivityLog log;
    ASSERT_TRUE(log.Open("store"));
    AcdDatabase store(&log);
    ASSERT_TRUE(store.Connect("localhost", env.admin_user, env.admin_password));
    ASSERT_TRUE(store.CreateTables());
  }
  std::filesystem::current_path(previous_folder);
  SqlClient admin(env);
  // 2024-06-03 08:00 UTC and after: answered, abandoned, in two groups.
  ASSERT_TRUE(admin.Exec(
      "insert into acd_db.stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
      "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur) values "
      "('acd1', 'Sales, \"East\"', '1001', 1717401900, 600, '+491', '{1}', 3, 1, 10),"
      "('acd1', 'Sales, \"East\"', '', 1717403000, 0, '+49 \\\"3\\\", \xe9', '{2}', 3, 3, 45),"
      "('acd1', 'Kundendienst M\xfcller', '1002', 1717404000, 300, '+494', '{3}', 3, 1, 5)"));
  ASSERT_TRUE(admin.Exec("CREATE USER 'board_reader'@'%' IDENTIFIED BY 'reader'"));
  ASSERT_TRUE(admin.Exec("GRANT SELECT ON acd_db.* TO 'board_reader'@'%'"));
  TempDir::WriteFile(dir / "password", "reader\n");
  const int port = FreePort();
  ASSERT_NE(port, 0);
  ChildProcess board(std::string(std::getenv("CALLSINK_BIN")) + "/callsinkboard",
                     {"--config", "/dev/null", "--listen", "127.0.0.1:" + std::to_string(port),
                      "--database", "127.0.0.1:" + std::to_string(env.port), "--user",
                      "board_reader", "--password-file", dir / "password", "--time-zone", "UTC"},
                     {}, {}, dir / "board.log");
  httplib::Client client("127.0.0.1", port);
  ASSERT_TRUE(WaitUntil(10000, [&] { return client.Get("/reports") != nullptr; }))
      << TempDir::ReadFile(dir / "board.log");

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
  EXPECT_TRUE(board.Running()) << TempDir::ReadFile(dir / "board.log");
}

}  // namespace
}  // namespace callsink::test
