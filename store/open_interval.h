#pragma once

#include <cstdint>
#include <optional>

namespace callsink {

// The status interval that is open for a membership when a new status
// arrives: since when and with which status, and whether the membership's
// row recorded it. The interval rule of WriteStatusInterval, in one place
// for the store's select and for the membership cache that stands in for it.
struct OpenInterval {
  uint32_t start;
  int32_t status;
  bool found;

  // From what the membership row holds: no active row (none, or State not
  // 1) opened at 0 with status 0; a row with Timestamp or Status NULL opens
  // now with the new status.
  static OpenInterval Of(bool active_row, std::optional<uint32_t> timestamp,
                         std::optional<int32_t> row_status, uint32_t now, int32_t new_status) {
    if (!active_row) return {0, 0, false};
    if (!timestamp || !row_status) return {now, new_status, false};
    return {*timestamp, *row_status, true};
  }

  // Whether `new_status` at `now` writes an interval row: always when the
  // row did not record one; otherwise only a change of status that comes
  // later than the interval's start.
  bool Closes(uint32_t now, int32_t new_status) const {
    return !found || (status != new_status && start < now);
  }
};

}  // namespace callsink
