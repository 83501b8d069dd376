// The wallboard in a real browser: callsinkboard on a private MariaDB of its
// own (which the check stops and starts again), read by a select-only user
// over TCP, and tests/board/board_page_check.py driving Debian's chromium
// headless through chromium-driver.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/board/board_system.h"
#include "tests/support/child_process.h"
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
  BoardSystem system;
  CALLSINK_REQUIRE_MARIADB(system.database_env());
  ASSERT_TRUE(system.StartBoard({"--refresh", "1"}));
  const std::string& address = system.address();
  const TempDir& dir = system.dir();
  const std::string data = std::getenv("CALLSINK_TEST_DATA");
  ChildProcess check(
      kPython, {data + "/board/board_page_check.py"},
      {"BOARD_URL=http://" + address + "/", "MARIADB_DIR=" + system.database().folder(),
       "MARIADB_SCRIPT=" + data + "/support/mariadb/mariadb-instance.sh"},
      {}, dir / "check.log");
  EXPECT_EQ(check.WaitExit(300000), std::optional<int>(0))
      << TempDir::ReadFile(dir / "check.log") << "\nboard:\n"
      << system.BoardLog();
  EXPECT_TRUE(system.BoardRunning()) << system.BoardLog();
}

}  // namespace
}  // namespace callsink::test
