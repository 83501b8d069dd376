#include "store/id_headroom.h"

#include <array>
#include <charconv>
#include <limits>

#include "store/mysql_result.h"

namespace callsink {
namespace {

constexpr std::string_view kCatalogueQuery =
    "select t.TABLE_NAME, t.AUTO_INCREMENT, c.COLUMN_TYPE from information_schema.TABLES t "
    "join information_schema.COLUMNS c using (TABLE_SCHEMA, TABLE_NAME) "
    "where t.TABLE_SCHEMA = database() and c.COLUMN_NAME = 'ID' and t.AUTO_INCREMENT is not null";

struct IntegerType {
  std::string_view name;
  uint64_t signed_max;
};
constexpr std::array<IntegerType, 5> kIntegerTypes = {{
    {"tinyint", std::numeric_limits<int8_t>::max()},
    {"smallint", std::numeric_limits<int16_t>::max()},
    {"mediumint", (uint64_t{1} << 23) - 1},
    {"int", std::numeric_limits<int32_t>::max()},
    {"bigint", std::numeric_limits<int64_t>::max()},
}};

}  // namespace

uint64_t IdHeadroom::MaxValue(std::string_view column_type) {
  for (const IntegerType& type : kIntegerTypes) {
    if (column_type.substr(0, type.name.size()) != type.name) continue;
    const std::string_view rest = column_type.substr(type.name.size());
    if (!rest.empty() && rest[0] != '(' && rest[0] != ' ') continue;  // "integer", "int4"...
    // Unsigned doubles the range and adds one.
    return rest.find("unsigned") == std::string_view::npos ? type.signed_max
                                                           : type.signed_max * 2 + 1;
  }
  return 0;
}

std::vector<IdHeadroom::Table> IdHeadroom::Read(MYSQL* connection) {
  std::vector<Table> tables;
  if (mysql_real_query(connection, kCatalogueQuery.data(), kCatalogueQuery.size()) != 0) {
    return tables;
  }
  const MySqlResult result(mysql_store_result(connection));
  if (!result) return tables;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    Table table{std::string(row[0], lengths[0]), 0, MaxValue(std::string_view(row[2], lengths[2]))};
    const std::string_view next(row[1], lengths[1]);
    if (table.max_id == 0 ||
        std::from_chars(next.data(), next.data() + next.size(), table.next_id).ec != std::errc()) {
      continue;
    }
    tables.push_back(std::move(table));
  }
  return tables;
}

}  // namespace callsink
