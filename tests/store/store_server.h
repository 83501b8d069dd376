#pragma once

#include <gtest/gtest.h>

#include "tests/support/mariadb_server.h"

namespace callsink::test {

// The private MariaDB server of one store test program, its own so that tests
// may drop acd_db, read the general log and stop the server without
// disturbing other programs. Started before the first test; made the client
// library's default (port 0, no socket), which the store's Connect uses; the
// general log goes to the table mysql.general_log.
class StoreServer : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

  // The program's server; env() is empty when it could not be started.
  static MariaDbServer& Get();
};

}  // namespace callsink::test
