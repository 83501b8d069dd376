#include "report/report_request.h"

#include <cstdio>

#include "report/report_period.h"

namespace callsink {
namespace {

// "YYYY-MM-DD" with an optional " HH:MM" (or "THH:MM"); nothing otherwise.
std::optional<LocalTime> ParseLocal(const std::string& text) {
  LocalTime local;
  char separator = ' ';
  int consumed = 0;
  const int fields =
      std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n", &local.year, &local.month, &local.day,
                  &consumed, &separator, &local.hour, &local.minute, &consumed);
  const bool date_only = fields == 3 && static_cast<size_t>(consumed) == text.size();
  const bool date_and_time = fields == 6 && static_cast<size_t>(consumed) == text.size() &&
                             (separator == ' ' || separator == 'T');
  if (!date_only && !date_and_time) return std::nullopt;
  if (local.month < 1 || local.month > 12 || local.day < 1 || local.day > 31 || local.hour > 23 ||
      local.hour < 0 || local.minute < 0 || local.minute > 59) {
    return std::nullopt;
  }
  return local;
}

// The next calendar day's midnight after `local`'s date.
LocalTime NextMidnight(LocalTime local) {
  local.day += 1;  // normalised by the zone's conversion
  local.hour = local.minute = local.second = 0;
  return local;
}

}  // namespace

std::optional<ReportParameters> ReportRequest::Read(int64_t now, std::string* error) const {
  ReportParameters parameters;
  if (time_zone) {
    const std::optional<TimeZone> zone = TimeZone::Named(*time_zone);
    if (!zone) {
      *error = "there is no time zone \"" + *time_zone + "\" (an IANA name such as Europe/Berlin)";
      return std::nullopt;
    }
    parameters.time_zone = *zone;
  }
  const TimeZone& zone = parameters.time_zone;
  const std::string interval_text = interval.value_or("15m");
  if (interval_text == "15m") {
    parameters.interval = ReportInterval::k15Minutes;
  } else if (interval_text == "30m") {
    parameters.interval = ReportInterval::k30Minutes;
  } else if (interval_text == "60m") {
    parameters.interval = ReportInterval::k60Minutes;
  } else if (interval_text == "day") {
    parameters.interval = ReportInterval::kDay;
  } else {
    *error = "the interval is 15m, 30m, 60m or day, not \"" + interval_text + "\"";
    return std::nullopt;
  }
  LocalTime from_local = zone.ToLocal(now);
  from_local.hour = from_local.minute = from_local.second = 0;
  const std::pair<const char*, const std::optional<std::string>*> texts[] = {{"from", &from},
                                                                             {"until", &until}};
  for (const auto& [name, text] : texts) {
    if (*text && !ParseLocal(**text)) {
      *error = std::string("--") + name + " is \"YYYY-MM-DD HH:MM\" or \"YYYY-MM-DD\", not \"" +
               **text + "\"";
      return std::nullopt;
    }
  }
  if (from) from_local = *ParseLocal(*from);
  parameters.from = zone.FromLocal(from_local);
  parameters.until = zone.FromLocal(until ? *ParseLocal(*until) : NextMidnight(from_local));
  if (parameters.from >= parameters.until) {
    *error = "the period ends before it begins";
    return std::nullopt;
  }
  if (parameters.from % ReportPeriod::kSlotSeconds != 0 ||
      parameters.until % ReportPeriod::kSlotSeconds != 0) {
    *error = "the period begins and ends on a quarter hour (:00, :15, :30 or :45)";
    return std::nullopt;
  }
  parameters.servers = servers;
  parameters.groups = groups;
  return parameters;
}

}  // namespace callsink
