#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/mariadb_env.h"

namespace callsink::test {

// A table of docs/reports.sql's output: its rows, columns joined by "|".
using ReportsSqlTable = std::vector<std::string>;

// Runs docs/reports.sql with the mariadb client, as a user runs it, on acd_db
// of `server` after `settings` (SQL run first on the same connection), over
// a latin1 connection so that names arrive byte for byte. `output_file` is
// the client's output. Returns the group table and the agent table; a
// failure of the client fails the test.
std::pair<ReportsSqlTable, ReportsSqlTable> RunReportsSql(const MariaDbEnv& server,
                                                          const std::string& output_file,
                                                          const std::string& settings);

}  // namespace callsink::test
