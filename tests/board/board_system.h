#pragma once

#include <memory>
#include <optional>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {

// callsinkboard as an operator runs it: a private MariaDB with the tables as
// the collector makes them, a select-only user "board_reader", and the
// board on a free port of 127.0.0.1 reading over TCP as that user, in UTC.
// Everything it starts is ended by PID when it goes away.
class BoardSystem {
 public:
  // Starts the database; check database_env() (empty when it did not start).
  BoardSystem();

  const std::optional<MariaDbEnv>& database_env() const { return server_.env(); }
  MariaDbServer& database() { return server_; }
  // Makes the tables and the user and starts the board with `extra` flags;
  // false (with a test failure) when any of it fails.
  bool StartBoard(const std::vector<std::string>& extra = {});
  // "127.0.0.1:PORT".
  const std::string& address() const { return address_; }
  int port() const { return port_; }
  std::string BoardLog() const { return TempDir::ReadFile(dir_ / "board.log"); }
  bool BoardRunning() { return board_ && board_->Running(); }
  const TempDir& dir() const { return dir_; }

 private:
  MariaDbServer server_;
  TempDir dir_;
  int port_ = 0;
  std::string address_;
  std::unique_ptr<ChildProcess> board_;
};

}  // namespace callsink::test
