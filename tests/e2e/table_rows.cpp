#include "tests/e2e/table_rows.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace callsink::test {
namespace {

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Times of the collector's clock read back as "CLOCK", like the expectation
// (the ACD clock of the tests runs far ahead of the real one).
std::vector<std::string> MaskCollectorClock(std::vector<std::string> rows, size_t column) {
  for (std::string& row : rows) {
    size_t begin = 0;
    for (size_t i = 0; i < column; ++i) begin = row.find('|', begin) + 1;
    const size_t end = row.find('|', begin);
    const std::string value = row.substr(begin, end - begin);
    if (value != "NULL" && value != "0" && std::stoull(value) < 2500000000ULL) {
      row.replace(begin, end - begin, "CLOCK");
    }
  }
  return rows;
}

}  // namespace

TableRows TableRows::Read(SqlClient& sql, const std::string& server) {
  auto rows = [&](const std::string& columns, const std::string& table, const std::string& order) {
    return sql.Rows("select " + columns + " from acd_db." + table + " where Serv_Name='" + server +
                    "'" + order);
  };
  TableRows tables;
  tables.groups =
      Sorted(rows("Group_Name, Timestamp, State, Modified, Calls_inQueue", "stock_groups", ""));
  tables.agents =
      Sorted(rows("Agent_Name, Agent_FullName, Timestamp, State, Modified", "stock_agents", ""));
  tables.relations = Sorted(MaskCollectorClock(
      rows("Group_Name, Agent_Name, Timestamp, State, Modified, Status", "stock_relations", ""),
      2));
  tables.status_rows = MaskCollectorClock(
      rows("Group_Name, Agent_Name, TimeStart, TimeEnd, Status", "stock_status", " order by ID"),
      2);
  tables.calls = rows("Group_Name, Agent_Name, Timestamp, Call_ID, Call_State, Close_Reason",
                      "stock_calls", " order by ID");
  tables.cdrs = rows(
      "Group_Name, Agent_Name, Timestamp, Call_Dur, Caller_Usur, Call_GUID, Call_State, "
      "Close_Reason, Queue_Dur",
      "stock_cdr", " order by ID");
  return tables;
}

TableRows TableRows::Of(const ExpectedStore& store) {
  return {Sorted(store.Groups()), Sorted(store.Agents()), Sorted(store.Relations()),
          store.StatusRows(),     store.Calls(),          store.Cdrs()};
}

void ExpectSameRows(const TableRows& actual, const TableRows& wanted) {
  EXPECT_EQ(actual.groups, wanted.groups);
  EXPECT_EQ(actual.agents, wanted.agents);
  EXPECT_EQ(actual.relations, wanted.relations);
  EXPECT_EQ(actual.status_rows, wanted.status_rows);
  EXPECT_EQ(actual.calls, wanted.calls);
  EXPECT_EQ(actual.cdrs, wanted.cdrs);
}

}  // namespace callsink::test
