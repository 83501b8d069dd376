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
// stock_calls): the index each is read through by server and time, and the
// statements that delete their rows a chunk at a time along it. Reports,
// the data deletion of one server and retention all go through the index;
// without it each of them reads the whole table.
namespace callsink::history {

struct Table {
  const char* name;
  WorkerStats::Table counted_as;
  // The time a row is found by (its index's second column), and the time it
  // ended, which retention compares; the same column for a point in time.
  const char* start_column;
  const char* end_column;
  // The index, its columns as the catalogue lists them (comma-separated),
  // and as the log shows them.
  const char* index_name;
  const char* index_columns;
  const char* shown_columns;
};

// stock_status keeps TimeEnd in its index too: retention and the reports
// test it there without reading the row.
inline constexpr std::array<Table, 3> kTables = {{
    {"stock_status", WorkerStats::Table::kStatus, "TimeStart", "TimeEnd", "Serv_Time",
     "Serv_Name,TimeStart,TimeEnd", "Serv_Name, TimeStart, TimeEnd"},
    {"stock_cdr", WorkerStats::Table::kCdr, "Timestamp", "Timestamp", "Serv_Time",
     "Serv_Name,Timestamp", "Serv_Name, Timestamp"},
    {"stock_calls", WorkerStats::Table::kCalls, "Timestamp", "Timestamp", "Serv_Time",
     "Serv_Name,Timestamp", "Serv_Name, Timestamp"},
}};

// The collector adds a missing index itself only to a table of at most this
// many rows; a larger one would hold its writes (and, on a cluster, every
// node) for as long as the build takes.
inline constexpr uint64_t kMaxRowsIndexedByCollector = 1000000;

// A table of the selected database that lacks its index, and how many rows
// it holds: exact up to `counted_up_to`, beyond that the catalogue's
// estimate (at least counted_up_to + 1).
struct MissingIndex {
  const Table* table;
  uint64_t rows;
};

// The history tables that exist in the selected database without an index
// whose leading columns are their index's. Counts each one's rows up to
// `counted_up_to` + 1 (a bounded read). False when the catalogue or a table
// cannot be read; `missing` then holds what was found before.
bool FindMissingIndexes(MYSQL* connection, uint64_t counted_up_to,
                        std::vector<MissingIndex>* missing);

// The statement that adds `table`'s index; `online` with ALGORITHM=INPLACE,
// LOCK=NONE (writes go on during the build).
std::string AddIndexStatement(const Table& table, bool online);
// Adds `table`'s index, online where the server can, otherwise as a plain
// ALTER. An index another session added meanwhile (same name) is success.
// False with the server's error left on `connection` otherwise.
// `send` sends one statement and returns mysql_real_query's result == 0;
// it may wait for the statement any way it likes (a progress display).
template <typename Send>
bool AddIndex(MYSQL* connection, const Table& table, Send&& send);

// "delete from T where Serv_Name=<server> limit <rows>": one chunk of the
// server's rows, found along the index.
void AddServerChunkDelete(SqlStatement& statement, const Table& table, std::string_view server,
                          uint64_t rows);
// One chunk of the server's rows that ended before `before` (seconds of the
// ACD server's clock). A row of stock_status is found by its start, which
// is never after its end; one whose clock stepped back is deleted once its
// start, too, is past.
void AddExpiredChunkDelete(SqlStatement& statement, const Table& table, std::string_view server,
                           uint64_t before, uint64_t rows);

// Errors of AddIndex that mean "done" or "try the plain form".
bool IsDuplicateIndex(unsigned int error);
bool RefusesOnlineAlter(unsigned int error);

template <typename Send>
bool AddIndex(MYSQL* connection, const Table& table, Send&& send) {
  if (send(AddIndexStatement(table, true))) return true;
  if (RefusesOnlineAlter(mysql_errno(connection)) && send(AddIndexStatement(table, false))) {
    return true;
  }
  return IsDuplicateIndex(mysql_errno(connection));
}

}  // namespace callsink::history
