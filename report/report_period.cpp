#include "report/report_period.h"

#include <algorithm>

namespace callsink {
namespace {

// Which row a slot starting at `local` falls into: slots of one row share
// the label. A change of offset starts a new row (the hour the clock shows
// twice is two rows), except for days.
int64_t RowLabel(const LocalTime& local, ReportInterval interval) {
  const int64_t date = (local.year * 16 + local.month) * 32 + local.day;
  const int minute_of_day = local.hour * 60 + local.minute;
  switch (interval) {
    case ReportInterval::k15Minutes:
      return (date * 96 + minute_of_day / 15) * 100000 + local.offset_seconds;
    case ReportInterval::k30Minutes:
      return (date * 48 + minute_of_day / 30) * 100000 + local.offset_seconds;
    case ReportInterval::k60Minutes:
      return (date * 24 + minute_of_day / 60) * 100000 + local.offset_seconds;
    case ReportInterval::kDay:
      return date;
    case ReportInterval::kWhole:
      break;
  }
  return 0;
}

bool Counted(const LocalTime& local, const ReportParameters& parameters) {
  const int minute_of_day = local.hour * 60 + local.minute;
  return parameters.weekdays[static_cast<size_t>(local.weekday)] &&
         minute_of_day >= parameters.opens_minute && minute_of_day < parameters.closes_minute;
}

}  // namespace

ReportPeriod::ReportPeriod(const ReportParameters& parameters)
    : from_(parameters.from), until_(parameters.until) {
  int64_t previous_label = 0;
  bool previous_counted = false;
  const size_t slots = static_cast<size_t>((until_ - from_ + kSlotSeconds - 1) / kSlotSeconds);
  const std::vector<LocalTime> slot_times =
      parameters.time_zone.ToLocal(from_, kSlotSeconds, slots);
  for (size_t slot = 0; slot < slots; ++slot) {
    const int64_t start = from_ + static_cast<int64_t>(slot) * kSlotSeconds;
    const LocalTime& local = slot_times[slot];
    if (!Counted(local, parameters)) {
      row_of_slot_.push_back(-1);
      previous_counted = false;
      continue;
    }
    const int64_t label = RowLabel(local, parameters.interval);
    // A day cut by the business hours stays one row.
    const bool same_row = !rows_.empty() && label == previous_label &&
                          (previous_counted || parameters.interval == ReportInterval::kDay ||
                           parameters.interval == ReportInterval::kWhole);
    if (same_row) {
      rows_.back().end = start + kSlotSeconds;
    } else {
      rows_.push_back(Row{start, start + kSlotSeconds});
    }
    row_of_slot_.push_back(static_cast<int>(rows_.size()) - 1);
    previous_label = label;
    previous_counted = true;
  }
}

int ReportPeriod::RowOfSlot(int64_t slot) const {
  const int64_t index = slot - from_ / kSlotSeconds;
  if (index < 0 || index >= static_cast<int64_t>(row_of_slot_.size())) return -1;
  return row_of_slot_[static_cast<size_t>(index)];
}

int64_t ReportPeriod::Spread(int64_t start, int64_t end,
                             std::vector<int64_t>& seconds_per_row) const {
  int64_t spread = 0;
  start = std::max(start, from_);
  end = std::min(end, until_);
  for (int64_t slot = start / kSlotSeconds; slot * kSlotSeconds < end; ++slot) {
    const int row = RowOfSlot(slot);
    if (row < 0) continue;
    const int64_t part =
        std::min(end, (slot + 1) * kSlotSeconds) - std::max(start, slot * kSlotSeconds);
    seconds_per_row[static_cast<size_t>(row)] += part;
    spread += part;
  }
  return spread;
}

}  // namespace callsink
