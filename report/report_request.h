#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/report_parameters.h"

namespace callsink {

// A report's parameters as a person gives them, on a command line or in an
// address, read into ReportParameters.
struct ReportRequest {
  std::optional<std::string> from;       // "YYYY-MM-DD HH:MM" or "YYYY-MM-DD"; default today
  std::optional<std::string> until;      // the same; default the day after from's
  std::optional<std::string> interval;   // "15m", "30m", "60m" or "day"; default 15m
  std::optional<std::string> time_zone;  // an IANA name; default the host's
  std::vector<std::string> servers;
  std::vector<std::string> groups;

  // The parameters, "today" being the day of `now` in the zone; nothing, with
  // `error` saying what is wrong in words for the person who asked, when a
  // text cannot be read or the period is empty or not on quarter hours.
  std::optional<ReportParameters> Read(int64_t now, std::string* error) const;
};

}  // namespace callsink
