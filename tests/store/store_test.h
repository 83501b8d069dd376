#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "store/mysql_connection.h"
#include "tests/support/mariadb_env.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {

// A store on the program's private server (StoreServer), a server without
// acd_db at the start of each test, the store's activity log in a temporary
// folder, and an administrator connection of the test's own that reads rows
// back (latin1, like the store, so bytes compare one to one) and stays out of
// the general log.
class StoreTest : public ::testing::Test {
 protected:
  static constexpr char kServer[] = "acd1.example";
  static constexpr char kOtherServer[] = "acd2.example";
  // Every connection's first statement: the session's SQL modes without the
  // two that break double-quoted, backslash-escaped values.
  static constexpr char kSessionModes[] =
      "SET SESSION sql_mode = TRIM(BOTH ',' FROM REPLACE(REPLACE(CONCAT(',', "
      "@@SESSION.sql_mode, ','), ',NO_BACKSLASH_ESCAPES,', ','), ',ANSI_QUOTES,', ','))";

  void SetUp() override;
  void TearDown() override;

  const MariaDbEnv& env() const;
  // Connects store_ as the administrator through the socket and creates the
  // tables for kServer; forgets the statements that took.
  void ConnectStore();
  // A fresh administrator connection in `character_set`, acd_db selected
  // when it exists.
  MySqlConnection ConnectAdmin(const char* character_set = "latin1");

  // Runs `sql` on the test's connection; a failure fails the test.
  void Exec(const std::string& sql);
  // The rows of `sql`, each as its columns joined by "|", NULL as "NULL".
  std::vector<std::string> Rows(const std::string& sql);
  // The first row of `sql`; "" when there is none.
  std::string Value(const std::string& sql);

  // The statements store_ sent since the last ForgetStatements, in order,
  // byte for byte (its statement observer).
  const std::vector<std::string>& Sent() const { return sent_; }
  // The statements (command Query) the server received from every session
  // but the test's own since the last ForgetStatements, in order, as its
  // general log holds them: without blanks and semicolons at the end.
  std::vector<std::string> Statements();
  // Every command those sessions sent, "<command>: <argument>", in order.
  std::vector<std::string> Commands();
  void ForgetStatements();

  // The store's log lines since the test began, without time and date lines.
  std::vector<std::string> LogLines();

  TempDir dir_;
  ActivityLog log_;
  AcdDatabase store_{&log_};
  MySqlConnection admin_;

 private:
  std::string previous_folder_;
  std::vector<std::string> sent_;
};

}  // namespace callsink::test
