#pragma once

#include <string>
#include <vector>

#include "tests/e2e/expected_store.h"
#include "tests/support/sql_client.h"

namespace callsink::test {

// The rows one ACD server has in the six tables that hold what it sent, in
// the form ExpectedStore gives them: directories sorted, history in the
// order of ID, times of the collector's own clock as "CLOCK".
struct TableRows {
  std::vector<std::string> groups, agents, relations, status_rows, calls, cdrs;
  bool operator==(const TableRows&) const = default;

  static TableRows Read(SqlClient& sql, const std::string& server);
  static TableRows Of(const ExpectedStore& store);
};

// Compares table by table, so that a failure says which one differs.
void ExpectSameRows(const TableRows& actual, const TableRows& wanted);

}  // namespace callsink::test
