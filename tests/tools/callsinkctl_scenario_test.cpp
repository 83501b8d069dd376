#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/store/store_test.h"
#include "tests/tools/program_run.h"

namespace callsink {
namespace {

using test::ProgramRun;

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// An administrator's session with callsinkctl, step by step, against a
// registry below a temporary CALLSINK_ROOT and the program's private MariaDB
// server (which "localhost" reaches through MYSQL_UNIX_PORT), holding rows
// that the collector wrote for two ACD servers.
class CallsinkctlScenarioTest : public test::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ConnectStore();  // acd_db and its tables, as the collector makes them
    for (const char* server : {"10.0.0.5", "10.0.0.6"}) {
      for (const char* table : {"stock_groups", "stock_agents", "stock_relations", "stock_calls",
                                "stock_cdr", "stock_status", "stock_time"}) {
        Exec(std::string("insert into acd_db.") + table + " (Serv_Name) values ('" + server + "')");
      }
    }
  }

  // Runs one command; the administrator's password never shows in its output.
  ProgramRun Ctl(const std::vector<std::string>& args, const std::string& input = "") {
    ProgramRun run = ProgramRun::Run("callsinkctl", args, {{"CALLSINK_ROOT", dir_.path()}}, input);
    EXPECT_EQ(run.out.find(env().admin_password), std::string::npos) << "password printed";
    EXPECT_EQ(run.err.find(env().admin_password), std::string::npos) << "password printed";
    return run;
  }
  std::string Rows(const std::string& server) {
    return Value("select (select count(*) from acd_db.stock_groups where Serv_Name='" + server +
                 "') + (select count(*) from acd_db.stock_time where Serv_Name='" + server + "')");
  }
};

TEST_F(CallsinkctlScenarioTest, AddListEditDeleteOneServersDataRemoveAndDropAll) {
  const std::string password_line = env().admin_password + "\n";
  ProgramRun run =
      Ctl({"add", "--server", "10.0.0.5", "--user", env().admin_user, "--password-stdin"},
          password_line);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  run = Ctl({"add", "--server", "10.0.0.6", "--port", "4661", "--user", env().admin_user,
             "--password-stdin"},
            password_line);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  run = Ctl({"add", "--server", "10.0.0.7", "--user", env().admin_user, "--password-stdin"},
            "wrong\n");
  ASSERT_EQ(run.exit_code, 0) << run.err;

  run = Ctl({"list"});
  EXPECT_EQ(run.out,
            "1\tACD (10.0.0.5 : 4660) -> MYSQL (localhost : 3306 )\tService stopped\n"
            "2\tACD (10.0.0.6 : 4661) -> MYSQL (localhost : 3306 )\tService stopped\n"
            "3\tACD (10.0.0.7 : 4660) -> MYSQL (localhost : 3306 )\tService stopped\n");

  run = Ctl({"edit", "2", "--port", "4662"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(Ctl({"list"}).out.find("2\tACD (10.0.0.6 : 4662)"), std::string::npos);

  run = Ctl({"data", "servers", "--config", "2"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(SortedLines(run.out), (std::vector<std::string>{"10.0.0.5", "10.0.0.6"}));

  run = Ctl({"data", "servers", "--config", "3"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.err.starts_with("Connection failed: Access denied for user")) << run.err;

  run = Ctl({"database", "add-indexes", "--config", "2"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(SortedLines(run.out),
              ::testing::ElementsAre(
                  ::testing::StartsWith("stock_calls: index on (Serv_Name, Timestamp) added in "),
                  ::testing::StartsWith("stock_cdr: index on (Serv_Name, Timestamp) added in "),
                  ::testing::StartsWith("stock_status: index on (Serv_Name, TimeEnd) added in "),
                  ::testing::StartsWith(
                      "stock_status: index on (Serv_Name, TimeStart, TimeEnd) added in ")));
  EXPECT_EQ(Ctl({"database", "add-indexes", "--config", "2"}).out,
            "Every history table has its indexes\n");

  EXPECT_EQ(Ctl({"retention"}).out, "Retention: off, the history is kept for ever\n");
  run = Ctl({"retention", "400"});
  EXPECT_EQ(run.out, "Retention: 400 days; callsinkctl apply makes the collector take it up\n");
  EXPECT_EQ(Ctl({"retention"}).out, "Retention: 400 days\n");
  EXPECT_EQ(Ctl({"retention", "0"}).exit_code, 2);
  EXPECT_EQ(Ctl({"retention", "off"}).exit_code, 0);
  EXPECT_EQ(Ctl({"retention"}).out, "Retention: off, the history is kept for ever\n");

  run = Ctl({"data", "delete", "10.0.0.5", "--config", "1", "--yes"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "Information deleted\n");
  EXPECT_EQ(Rows("10.0.0.5"), "0");
  EXPECT_EQ(Rows("10.0.0.6"), "2");

  // Names not in the database, "All" among them, delete nothing.
  for (const char* server : {"10.0.0.9", "All"}) {
    run = Ctl({"data", "delete", server, "--config", "1", "--yes"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, std::string("callsinkctl: server ") + server + " has no data in acd_db\n");
  }
  EXPECT_EQ(Rows("10.0.0.6"), "2");

  run = Ctl({"remove", "1", "--yes"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  run = Ctl({"list"});
  EXPECT_TRUE(run.out.starts_with("1\tACD (10.0.0.6 : 4662)")) << run.out;

  run = Ctl({"data", "drop-all", "--config", "1", "--yes"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "Database deleted\n");
  EXPECT_EQ(Value("select count(*) from information_schema.schemata where schema_name='acd_db'"),
            "0");
  run = Ctl({"data", "drop-all", "--config", "1", "--yes"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "Drop database failed: Can't drop database 'acd_db'; database doesn't exist\n");
}

}  // namespace
}  // namespace callsink
