#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "report/time_zone.h"

namespace callsink {

// How a report's period is cut into rows.
enum class ReportInterval {
  k15Minutes,
  k30Minutes,
  k60Minutes,
  kDay,
  kWhole,  // one row for the whole period: the totals
};

// The ACD server's codes, as in docs/reports.sql.
struct AcdStatusCodes {
  int logged_out = 0;
  int available = 1;
  int busy = 2;
  int wrap_up = 3;
};

// What one report asks for. Every time is the ACD server's clock in seconds
// since 1970, which is what acd_db holds.
struct ReportParameters {
  std::vector<std::string> servers;  // empty: every server in acd_db
  std::vector<std::string> groups;   // empty: every group
  int64_t from = 0;                  // the period, on quarter hours
  int64_t until = 0;
  TimeZone time_zone;
  ReportInterval interval = ReportInterval::k15Minutes;
  // Local weekdays counted, indexed 0 (Sunday) to 6.
  std::array<bool, 7> weekdays = {true, true, true, true, true, true, true};
  // Local business hours counted, in minutes after midnight, on quarter
  // hours: [opens, closes). 0 and 1440 for the whole day.
  int opens_minute = 0;
  int closes_minute = 24 * 60;
  int service_level_seconds = 20;
  AcdStatusCodes status;
};

}  // namespace callsink
