#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "board/board_filter.h"
#include "board/board_settings.h"
#include "board/board_snapshot.h"

namespace callsink {

// Whether the last refresh reached the database.
struct DatabaseState {
  bool reachable = true;
  int64_t unreachable_since = 0;  // the board's clock, seconds since 1970
};

// The body of /api/board: the snapshot's groups and agents that `filter`
// keeps, with the settings the page judges them by. Every name is escaped
// as a JSON string, so that no byte of it can end the string or the
// document.
class BoardJson {
 public:
  static std::string Render(const BoardSnapshot& snapshot, uint64_t sequence,
                            const DatabaseState& database, const BoardSettings& settings,
                            const BoardFilter& filter);
  // Each byte of `latin1` as the character of that code point, in UTF-8.
  static std::string Utf8(const std::string& latin1);
};

}  // namespace callsink
