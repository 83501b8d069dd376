#pragma once

#include <string>
#include <vector>

#include "store/mysql_connection.h"
#include "tests/support/mariadb_env.h"

namespace callsink::test {

// A test's own administrator connection to a private MariaDB, over its
// socket (over TCP to host and port when it has none), in latin1 like the
// collector, so that bytes compare one to one.
// Used by one thread.
class SqlClient {
 public:
  // Connects at once; a failure fails the test and leaves the client unusable.
  explicit SqlClient(const MariaDbEnv& env);

  // The rows of `sql`, each as its columns joined by "|", NULL as "NULL".
  // A failed query fails the test and gives no rows.
  std::vector<std::string> Rows(const std::string& sql);
  // The first column of the first row; "" when there is none.
  std::string Value(const std::string& sql);
  // Runs a statement; false (and a test failure) when the server refuses it.
  bool Exec(const std::string& sql);

 private:
  MySqlConnection connection_;
};

}  // namespace callsink::test
