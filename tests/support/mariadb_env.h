#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace callsink::test {

// Where a private MariaDB server of the tests listens and how to log in, as
// tests/support/mariadb/mariadb-instance.sh writes it into DIR/env. An
// endpoint reached only over TCP (the Galera cluster's haproxy) has no socket.
struct MariaDbEnv {
  std::string socket;  // empty: connect to host and port
  int port = 0;
  std::string host;
  std::string admin_user, admin_password;      // every right, @localhost and @'%'
  std::string limited_user, limited_password;  // uses acd_db's tables, creates nothing

  // The server of the CTest fixture `mariadb`: reads the file named by
  // CALLSINK_TEST_MARIADB_ENV. Empty when the variable is unset, the file is
  // missing (no server) or it lacks the port or both socket and host.
  static std::optional<MariaDbEnv> Load();
  // Reads one env file; empty as above.
  static std::optional<MariaDbEnv> LoadFile(const std::string& file);

  // Points the client library's defaults at this server: MYSQL_UNIX_PORT
  // (host "localhost") and MYSQL_TCP_PORT (host "127.0.0.1"), which it reads
  // when a connect passes port 0 and no socket. The library reads them once,
  // at the process's first mysql_init, so call this before that.
  void ExportToClientLibrary() const;
};

// True when the environment says the tests run in CI (CI=true).
bool RunsInCi();

}  // namespace callsink::test

// Ends the current test (or SetUp) when `server` (a std::optional) is empty:
// a failure in CI, a skip with `message` on a developer's machine.
#define CALLSINK_REQUIRE_SERVER(server, message) \
  do {                                           \
    if (!(server).has_value()) {                 \
      if (::callsink::test::RunsInCi()) {        \
        FAIL() << (message);                     \
      }                                          \
      GTEST_SKIP() << (message);                 \
    }                                            \
  } while (false)

// The same for a std::optional<MariaDbEnv>.
#define CALLSINK_REQUIRE_MARIADB(env) \
  CALLSINK_REQUIRE_SERVER(env, "No private MariaDB server: mariadbd missing or failed to start")
