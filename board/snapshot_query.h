#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "board/board_settings.h"
#include "board/board_snapshot.h"

namespace callsink {

class MySqlConnection;

// Reads one BoardSnapshot from acd_db, over a connection of its own (the
// one MySQL set-up, latin1) that it opens when it has none and drops on any
// failure. It only reads. Today's figures follow docs/reports.sql: a CDR is
// a call offered in the period it came in; answered when it has an agent;
// the service level the share answered within the service level's seconds;
// the average wait that of the answered calls. Each ACD server's times are
// moved onto the database host's clock by its stock_time row.
// Used by one thread.
class SnapshotQuery {
 public:
  explicit SnapshotQuery(const BoardSettings& settings);
  ~SnapshotQuery();
  SnapshotQuery(const SnapshotQuery&) = delete;
  SnapshotQuery& operator=(const SnapshotQuery&) = delete;

  // The snapshot at the database host's present time, or at `now` (seconds
  // since 1970 on that clock) when given; "today" is the day of the local
  // clock (LocalClock) holding that moment. Nothing, with `*error` set,
  // when the database cannot be reached or refuses a query.
  std::optional<BoardSnapshot> Take(std::optional<int64_t> now, std::string* error);

 private:
  const BoardSettings settings_;
  std::unique_ptr<MySqlConnection> connection_;
};

}  // namespace callsink
