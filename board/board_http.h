#pragma once

#include "board/board_settings.h"
#include "web/web_site.h"

namespace callsink {

class SnapshotCache;

// The board's pages as the web library serves them (plain, or with TLS and
// basic authentication as a web configuration file says): "/" the page
// (and its /board.css, /board.js), "/api/board" the latest snapshot as
// JSON, filtered by the address's server= and group= (repeatable), with an
// ETag so that a viewer whose copy is current gets 304 without a body;
// "/reports" the report page and "/api/report" its sheets (BoardReports).
class BoardHttp {
 public:
  // The board's site; `cache` must outlive whatever serves it.
  static WebSite Site(const SnapshotCache& cache, const BoardSettings& settings);
};

}  // namespace callsink
