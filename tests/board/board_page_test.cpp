// The wallboard in a real browser: callsinkboard on a private MariaDB of its
// own (which the check stops and starts again), read by a select-only user
// over TCP, and tests/board/board_page_check.py driving Debian's chromium
// headless through chromium-driver.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/sql_client.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {
namespace {

constexpr char kBrowser[] = "/usr/bin/chromium";
constexpr char kDriver[] = "/usr/bin/chromedriver";
// Debian's interpreter, which has python3-selenium; not whatever is first on PATH.
constexpr char kPython[] = "/usr/bin/python3";

TEST(BoardPageTest, EveryFigureChangesDatabaseAwayHostileNames) {
  for (const char* needed : {kBrowser, kDriver, kPython}) {
    if (!std::filesystem::exists(needed)) {
      if (RunsInCi()) FAIL() << needed << " missing";
      GTEST_SKIP() << needed << " missing (scripts/install-deps.sh installs it)";
    }
  }
  MariaDbServer server;
  server.Start();
  CALLSINK_REQUIRE_MARIADB(server.env());
  const MariaDbEnv& env = *server.env();
  env.ExportToClientLibrary();
  TempDir dir;
  TempDir::MakeFolder(dir / "logs");
  const std::filesystem::path previous_folder = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());  // the store's log goes to logs/
  {
    // The tables as the collector makes them.
    ActivityLog log;
    ASSERT_TRUE(log.Open("store"));
    AcdDatabase store(&log);
    ASSERT_TRUE(store.Connect("localhost", env.admin_user, env.admin_password));
    ASSERT_TRUE(store.CreateTables());
  }
  std::filesystem::current_path(previous_folder);
  SqlClient admin(env);
  ASSERT_TRUE(admin.Exec("CREATE USER 'board_reader'@'%' IDENTIFIED BY 'reader'"));
  ASSERT_TRUE(admin.Exec("GRANT SELECT ON acd_db.* TO 'board_reader'@'%'"));
  TempDir::WriteFile(dir / "password", "reader\n");

  const int port = FreePort();
  ASSERT_NE(port, 0);
  const std::string address = "127.0.0.1:" + std::to_string(port);
  ChildProcess board(std::string(std::getenv("CALLSINK_BIN")) + "/callsinkboard",
                     {"--config", "/dev/null", "--listen", address, "--database",
                      "127.0.0.1:" + std::to_string(env.port), "--user", "board_reader",
                      "--password-file", dir / "password", "--time-zone", "UTC", "--refresh", "1"},
                     {}, {}, dir / "board.log");
  const std::string data = std::getenv("CALLSINK_TEST_DATA");
  ChildProcess check(kPython, {data + "/board/board_page_check.py"},
                     {"BOARD_URL=http://" + address + "/", "MARIADB_DIR=" + server.folder(),
                      "MARIADB_SCRIPT=" + data + "/support/mariadb/mariadb-instance.sh"},
                     {}, dir / "check.log");
  EXPECT_EQ(check.WaitExit(300000), std::optional<int>(0))
      << TempDir::ReadFile(dir / "check.log") << "\nboard:\n"
      << TempDir::ReadFile(dir / "board.log");
  EXPECT_TRUE(board.Running()) << TempDir::ReadFile(dir / "board.log");
}

}  // namespace
}  // namespace callsink::test
