#include "store/history_tables.h"

#include <mysqld_error.h>

#include <algorithm>
#include <charconv>
#include <map>

#include "store/mysql_result.h"

namespace callsink::history {
namespace {

constexpr std::string_view kIndexColumns =
    "select TABLE_NAME, group_concat(COLUMN_NAME order by SEQ_IN_INDEX separator ',') "
    "from information_schema.STATISTICS where TABLE_SCHEMA=database() and TABLE_NAME in "
    "('stock_status', 'stock_cdr', 'stock_calls') group by TABLE_NAME, INDEX_NAME";
constexpr std::string_view kTableRows =
    "select TABLE_NAME, TABLE_ROWS from information_schema.TABLES where TABLE_SCHEMA=database() "
    "and TABLE_NAME in ('stock_status', 'stock_cdr', 'stock_calls')";

bool Send(MYSQL* connection, std::string_view text) {
  return mysql_real_query(connection, text.data(), text.size()) == 0;
}

uint64_t Number(const char* text, unsigned long length) {
  uint64_t value = 0;
  if (text != nullptr) std::from_chars(text, text + length, value);
  return value;
}

// Each row of `query` as its first column and its second.
bool ReadPairs(MYSQL* connection, std::string_view query,
               std::multimap<std::string, std::string>* pairs) {
  if (!Send(connection, query)) return false;
  const MySqlResult result(mysql_store_result(connection));
  if (!result) return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    pairs->emplace(std::string(row[0], lengths[0]),
                   row[1] != nullptr ? std::string(row[1], lengths[1]) : std::string());
  }
  return true;
}

bool Covers(std::string_view index_columns, std::string_view wanted) {
  return index_columns.substr(0, wanted.size()) == wanted &&
         (index_columns.size() == wanted.size() || index_columns[wanted.size()] == ',');
}

// The table's rows, read no further than limit + 1.
bool CountRows(MYSQL* connection, const char* table, uint64_t limit, uint64_t* rows) {
  const std::string query = std::string("select count(*) from (select 1 from ") + table +
                            " limit " + std::to_string(limit + 1) + ") bounded";
  if (!Send(connection, query)) return false;
  const MySqlResult result(mysql_store_result(connection));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr) return false;
  *rows = Number(row[0], mysql_fetch_lengths(result.get())[0]);
  return true;
}

}  // namespace

bool FindMissingIndexes(MYSQL* connection, uint64_t counted_up_to,
                        std::vector<MissingIndex>* missing) {
  std::multimap<std::string, std::string> indexes;
  std::multimap<std::string, std::string> estimates;
  if (!ReadPairs(connection, kIndexColumns, &indexes) ||
      !ReadPairs(connection, kTableRows, &estimates)) {
    return false;
  }
  for (const Index& index : kIndexes) {
    const auto estimate = estimates.find(index.table);
    if (estimate == estimates.end()) continue;  // no such table
    const auto [first, last] = indexes.equal_range(index.table);
    if (std::any_of(first, last,
                    [&](const auto& found) { return Covers(found.second, index.columns); })) {
      continue;
    }
    uint64_t rows = 0;
    if (!CountRows(connection, index.table, counted_up_to, &rows)) return false;
    if (rows > counted_up_to) {
      rows = std::max(rows, Number(estimate->second.data(), estimate->second.size()));
    }
    missing->push_back({&index, rows});
  }
  return true;
}

std::string AddIndexStatement(const Index& index, bool online) {
  std::string text =
      std::string("alter table ") + index.table + " add index `" + index.name + "` (";
  std::string_view columns = index.columns;
  for (bool first = true; !columns.empty(); first = false) {
    const size_t comma = std::min(columns.find(','), columns.size());
    text += (first ? "`" : ",`") + std::string(columns.substr(0, comma)) + "`";
    columns.remove_prefix(std::min(comma + 1, columns.size()));
  }
  text += ")";
  if (online) text += ", ALGORITHM=INPLACE, LOCK=NONE";
  return text;
}

void AddServerChunkDelete(SqlStatement& statement, const Table& table, std::string_view server,
                          uint64_t rows) {
  statement.Add("delete from ")
      .Add(table.name)
      .Add(" where Serv_Name=")
      .Quoted(server)
      .Add(" limit ")
      .Unsigned(rows);
}

void AddExpiredChunkDelete(SqlStatement& statement, const Table& table, std::string_view server,
                           uint64_t before, uint64_t rows) {
  statement.Add("delete from ")
      .Add(table.name)
      .Add(" where Serv_Name=")
      .Quoted(server)
      .Add(" and ")
      .Add(table.end_column)
      .Add(" < ")
      .Unsigned(before)
      .Add(" limit ")
      .Unsigned(rows);
}

bool IsDuplicateIndex(unsigned int error) { return error == ER_DUP_KEYNAME; }

bool RefusesOnlineAlter(unsigned int error) {
  // A server that cannot build the index without a lock, or one too old to
  // know the clauses at all.
  return error == ER_ALTER_OPERATION_NOT_SUPPORTED ||
         error == ER_ALTER_OPERATION_NOT_SUPPORTED_REASON || error == ER_PARSE_ERROR;
}

}  // namespace callsink::history
