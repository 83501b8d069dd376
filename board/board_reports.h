#pragma once

#include "board/board_settings.h"
#include "web/web_site.h"

namespace callsink {

// The board's reports: GET /api/report?kind=groups|agents|abandoned with
// from, until, interval, time_zone, server and group (repeatable) as
// `callsinkctl report` takes them, answered with the report's CSV, the same
// bytes as `callsinkctl report ... --format csv` (a file to save with
// download=1). Each request reads acd_db on a session of its own, as the
// board's user. Any serving thread.
class BoardReports {
 public:
  explicit BoardReports(BoardSettings settings) : settings_(std::move(settings)) {}

  WebAnswer Answer(const WebRequest& request) const;

 private:
  const BoardSettings settings_;
};

}  // namespace callsink
