#include "tests/board/board_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "tests/support/free_port.h"
#include "tests/support/sql_client.h"

namespace callsink::test {

BoardSystem::BoardSystem() {
  server_.Start();
  if (server_.env()) server_.env()->ExportToClientLibrary();
}

bool BoardSystem::StartBoard(const std::vector<std::string>& extra) {
  const MariaDbEnv& env = *server_.env();
  TempDir::MakeFolder(dir_ / "logs");
  const std::filesystem::path previous_folder = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());  // the store's log goes to logs/
  bool made = false;
  {
    ActivityLog log;
    AcdDatabase store(&log);
    made = log.Open("store") && store.Connect("localhost", env.admin_user, env.admin_password) &&
           store.CreateTables();
  }
  std::filesystem::current_path(previous_folder);
  EXPECT_TRUE(made) << "the tables as the collector makes them";
  SqlClient admin(env);
  const bool user = admin.Exec("CREATE USER 'board_reader'@'%' IDENTIFIED BY 'reader'") &&
                    admin.Exec("GRANT SELECT ON acd_db.* TO 'board_reader'@'%'");
  EXPECT_TRUE(user);
  TempDir::WriteFile(dir_ / "password", "reader\n");
  port_ = FreePort();
  EXPECT_NE(port_, 0);
  if (!made || !user || port_ == 0) return false;
  address_ = "127.0.0.1:" + std::to_string(port_);
  std::vector<std::string> arguments = {
      "--config",        "/dev/null",    "--listen",
      address_,          "--database",   "127.0.0.1:" + std::to_string(env.port),
      "--user",          "board_reader", "--password-file",
      dir_ / "password", "--time-zone",  "UTC"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  board_ = std::make_unique<ChildProcess>(
      std::string(std::getenv("CALLSINK_BIN")) + "/callsinkboard", arguments,
      std::vector<std::string>{}, std::string{}, dir_ / "board.log");
  return true;
}

}  // namespace callsink::test
