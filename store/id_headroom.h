#pragma once

#include <mysql.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace callsink {

// How far the auto-increment IDs of the selected database's tables have come
// through the range of their `ID` column. An upsert that updates a row burns
// an ID as well, so the directory tables count up at the event rate too; a
// table whose next ID passes the column's largest value refuses every insert.
class IdHeadroom {
 public:
  // The share of the range from which the collector warns.
  static constexpr double kWarnAt = 0.75;

  struct Table {
    std::string name;
    uint64_t next_id = 0;
    uint64_t max_id = 0;
    // 0 to 1 (above 1 never: the server stops at the largest value).
    double Used() const { return static_cast<double>(next_id) / static_cast<double>(max_id); }
  };

  // The largest value of an integer column type as the server's catalogue
  // spells it ("int(11)", "bigint(20) unsigned"); 0 for any other type.
  static uint64_t MaxValue(std::string_view column_type);

  // Every table of the selected database that has an integer auto-increment
  // `ID`; empty when the catalogue cannot be read.
  static std::vector<Table> Read(MYSQL* connection);
};

}  // namespace callsink
