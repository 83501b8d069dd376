#include "tests/docs/reports_sql.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {

std::pair<ReportsSqlTable, ReportsSqlTable> RunReportsSql(const MariaDbEnv& server,
                                                          const std::string& output_file,
                                                          const std::string& settings) {
  const std::string file = std::string(std::getenv("CALLSINK_TEST_DATA")) + "/../docs/reports.sql";
  ChildProcess client("/usr/bin/mariadb",
                      {"-B", "--default-character-set=latin1", "-S", server.socket,
                       "-u" + server.admin_user, "-p" + server.admin_password, "acd_db",
                       "--init-command=" + settings, "-e", "source " + file},
                      {}, {}, output_file);
  EXPECT_EQ(client.WaitExit(30000), std::optional<int>(0)) << TempDir::ReadFile(output_file);
  std::pair<ReportsSqlTable, ReportsSqlTable> tables;
  ReportsSqlTable* table = nullptr;
  std::istringstream lines(TempDir::ReadFile(output_file));
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("server\tgroup\t")) {
      table = &tables.first;
    } else if (line.starts_with("server\tagent\t")) {
      table = &tables.second;
    } else if (table != nullptr) {
      for (char& c : line) c = c == '\t' ? '|' : c;
      table->push_back(line);
    } else {
      ADD_FAILURE() << "before the first table: " << line;
    }
  }
  return tables;
}

}  // namespace callsink::test
