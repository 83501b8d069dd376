// callsinkboard's settings: the file, then the flags, which win; what is
// refused and why.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_settings.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {
namespace {

TEST(BoardSettingsTest, FileThenFlagsAndWhatIsRefused) {
  TempDir dir;
  TempDir::WriteFile(dir / "secret", "s3cr=t\n");
  TempDir::WriteFile(dir / "board.conf",
                     "# the centre's board\n"
                     "listen = 0.0.0.0:8080\n"
                     "database = db.example:3307\n"
                     "user = board\n"
                     "password-file = " +
                         (dir / "secret") +
                         "\n"
                         "time-zone = Europe/Berlin\n"
                         "service-level = 30\n"
                         "status-names = 0:Off, 1:Ready, 7:Lunch\n");
  BoardSettings settings;
  std::string error;
  ASSERT_TRUE(settings.Load({"--config", dir / "board.conf", "--service-level=15", "--database",
                             "db2.example", "--longest-wait-limit", "60"},
                            &error))
      << error;
  EXPECT_EQ(settings.listen_host + ":" + std::to_string(settings.listen_port), "0.0.0.0:8080");
  EXPECT_EQ(settings.database_host + ":" + std::to_string(settings.database_port), "db2.example:0");
  EXPECT_EQ(settings.user + "/" + settings.password, "board/s3cr=t");
  EXPECT_EQ(settings.time_zone, "Europe/Berlin");
  EXPECT_EQ(settings.service_level_seconds, 15);
  EXPECT_EQ(settings.service_level_target, 80);
  EXPECT_EQ(settings.longest_wait_limit, 60);
  EXPECT_EQ(settings.StatusName(7) + "," + settings.StatusName(2), "Lunch,Status 2");

  const std::string missing = dir / "missing";
  for (const auto& [arguments, refusal] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--password", "x"}, "a password is never given itself: use password-file"},
           {{"--password-file", missing}, "cannot read the password file " + missing},
           {{"--service-level-target", "101"},
            "the value of service-level-target does not read: 101"},
           {{"--listen", "127.0.0.1:http"}, "the value of listen does not read: 127.0.0.1:http"},
           {{"--status-names", "1=Ready"}, "the value of status-names does not read: 1=Ready"},
           {{"--user"}, "--user needs a value"},
           {{"--colour", "red"}, "unknown setting colour"},
           {{"--config", missing}, "cannot read " + missing},
       }) {
    BoardSettings refused;
    error.clear();
    EXPECT_FALSE(refused.Load(arguments, &error)) << arguments[0];
    EXPECT_EQ(error, refusal);
  }
  TempDir::WriteFile(dir / "broken.conf", "user board\n");
  EXPECT_FALSE(settings.Load({"--config", dir / "broken.conf"}, &error));
  EXPECT_EQ(error, dir / "broken.conf" + ":1: not \"key = value\"");
}

}  // namespace
}  // namespace callsink::test
