#pragma once

#include <cstdint>
#include <vector>

#include "report/report_parameters.h"

namespace callsink {

// A report's period cut into its rows. The period is made of quarter-hour
// slots of the ACD server's clock (every zone's offset is a whole number of
// quarter hours, so each local interval starts and ends on a slot); a slot
// outside the weekdays or business hours belongs to no row. Rows follow the
// local clock: a 60-minute report has 23 or 25 rows on a day the clock
// changes.
class ReportPeriod {
 public:
  static constexpr int64_t kSlotSeconds = 15 * 60;

  struct Row {
    int64_t start = 0;  // the row's first counted moment
    int64_t end = 0;    // after its last
  };

  // `parameters.from` and `until` must be slot boundaries, from before until.
  explicit ReportPeriod(const ReportParameters& parameters);

  int64_t from() const { return from_; }
  int64_t until() const { return until_; }
  const std::vector<Row>& rows() const { return rows_; }
  // The row counting slot number `slot` (seconds / kSlotSeconds); -1 for a
  // slot outside the period, the weekdays or the business hours.
  int RowOfSlot(int64_t slot) const;
  // Adds the seconds of [start, end) that count to `seconds_per_row`, which
  // holds one entry per row; returns how many seconds that was.
  int64_t Spread(int64_t start, int64_t end, std::vector<int64_t>& seconds_per_row) const;

 private:
  int64_t from_;
  int64_t until_;
  std::vector<Row> rows_;
  std::vector<int> row_of_slot_;  // from the period's first slot on
};

}  // namespace callsink
