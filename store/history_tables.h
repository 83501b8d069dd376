#pragma once

#include <mysql.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "health/worker_stats.h"
#include "store/sql_statement.h"

// The three tables whose rows pile up for ever (stock_status, stock_cdr,
// stock_calls): the indexes they are read through by server and time, and
// the statements that delete their rows a chunk at a time along them. Reports,
// the data deletion of one server and retention all go through the index;
// without it each of them reads the whole table.
namespace callsink::history {

struct Table {
  const char* name;
  WorkerStats::Table counted_as;
  // The time a row ended, which retention compares (a point in time for a
  // call or a CDR).
  const char* end_column;
};

inline constexpr std::array<Table, 3> kTables = {{
    {"stock_status", WorkerStats::Table::kStatus, "TimeEnd"},
    {"stock_cdr", WorkerStats::Table::kCdr, "Timestamp"},
    {"stock_calls", WorkerStats::Table::kCalls, "Timestamp"},
}};

// An index of a history table: its name, its columns as the catalogue lists
// them (comma-separated), and as the log shows them.
struct Index {
  const char* table;
  const char* name;
  const char* columns;
  const char* shown_columns;
};

// A status interval is found by its start (reports of a period, the
// wrap-ups after a call) and by its end (intervals still open at a period's
// start, retention); the start's index holds the end too, so that a report
// tests it there without reading the row.
inline constexpr std::array<Index, 4> kIndexes = {{
    {"stock_status", "Serv_Time", "Serv_Name,TimeStart,TimeEnd", "Serv_Name, TimeStart, TimeEnd"},
    {"stock_status", "Serv_End", "Serv_Name,TimeEnd", "Serv_Name, TimeEnd"},
    {"stock_cdr", "Serv_Time", "Serv_Name,Timestamp", "Serv_Name, Timestamp"},
    {"stock_calls", "Serv_Time", "Serv_Name,Timestamp", "Serv_Name, Timestamp"},
}};

// The collector adds a missing index itself only to a table of at most this
// many rows; a larger one would hold its writes (and, on a cluster, every
// node) for as long as the build takes.
inline constexpr uint64_t kMaxRowsIndexedByCollector = 1000000;

// An index a table of the selected database lacks, and how many rows the
// table holds: exact up to `counted_up_to`, beyond that the catalogue's
// estimate (at least counted_up_to + 1).
struct MissingIndex {
  const Index* index;
  uint64_t rows;
};

// The indexes of kIndexes that tables of the selected database lack: the
// table exists and has no index whose leading columns are the index's.
// Counts the table's rows up to `counted_up_to` + 1 (a bounded read). False when the catalogue or a
// table cannot be read; `missing` then holds what was found before.
bool FindMissingIndexes(MYSQL* connection, uint64_t counted_up_to,
                        std::vector<MissingIndex>* missing);

// The statement that adds `index`; `online` with ALGORITHM=INPLACE,
// LOCK=NONE (writes go on during the build).
std::string AddIndexStatement(const Index& index, bool online);
// Adds `index`, online where the server can, otherwise as a plain
// ALTER. An index another session added meanwhile (same name) is success.
// False with the server's error left on `connection` otherwise.
// `send` sends one statement and returns mysql_real_query's result == 0;
// it may wait for the statement any way it likes (a progress display).
template <typename Send>
bool AddIndex(MYSQL* connection, const Index& index, Send&& send);

// "delete from T where Serv_Name=<server> limit <rows>": one chunk of the
// server's rows, found along the index.
void AddServerChunkDelete(SqlStatement& statement, const Table& table, std::string_view server,
                          uint64_t rows);
// One chunk of the server's rows that ended before `before` (seconds of the
// ACD server's clock), found along the index on their end.
void AddExpiredChunkDelete(SqlStatement& statement, const Table& table, std::string_view server,
                           uint64_t before, uint64_t rows);

// Errors of AddIndex that mean "done" or "try the plain form".
bool IsDuplicateIndex(unsigned int error);
bool RefusesOnlineAlter(unsigned int error);

template <typename Send>
bool AddIndex(MYSQL* connection, const Index& index, Send&& send) {
  if (send(AddIndexStatement(index, true))) return true;
  if (RefusesOnlineAlter(mysql_errno(connection)) && send(AddIndexStatement(index, false))) {
    return true;
  }
  return IsDuplicateIndex(mysql_errno(connection));
}

}  // namespace callsink::history
