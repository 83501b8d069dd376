#pragma once

#include <string>
#include <vector>

#include "report/report_rows.h"
#include "report/time_zone.h"

namespace callsink {

// A report as texts: its header and one line of cells per row, with times
// in ISO 8601 with their offset in the report's zone, durations in seconds
// and shares between 0 and 1. Names are the bytes acd_db holds, unchanged.
class ReportSheet {
 public:
  static ReportSheet OfGroups(const std::vector<GroupRow>& rows, const TimeZone& zone);
  static ReportSheet OfAgents(const std::vector<AgentRow>& rows, const TimeZone& zone);
  static ReportSheet OfAbandoned(const std::vector<AbandonedCall>& calls, const TimeZone& zone);

  const std::vector<std::string>& header() const { return header_; }
  const std::vector<std::vector<std::string>>& lines() const { return lines_; }

  // RFC 4180: CRLF after every line, a cell holding a comma, a quote, CR or
  // LF between quotes with its quotes doubled.
  std::string Csv() const;
  // Columns padded to their widest cell (counted in bytes), numbers to the
  // right, control characters shown as "?", for a terminal.
  std::string Table() const;

 private:
  explicit ReportSheet(std::vector<std::string> header) : header_(std::move(header)) {}

  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> lines_;
};

}  // namespace callsink
