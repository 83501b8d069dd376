#pragma once

#include <memory>

#include "board/board_settings.h"

namespace httplib {
class Server;
}

namespace callsink {

class SnapshotCache;

// The board's HTTP side on cpp-httplib: "/" the page (and its /board.css,
// /board.js), "/api/board" the latest snapshot as JSON, filtered by the
// address's server= and group= (repeatable), with an ETag so that a viewer
// whose copy is current gets 304 without a body.
class BoardHttp {
 public:
  // A server with the board's routes and limits, not yet listening. The
  // one place where the server is made and configured. `cache` must
  // outlive it.
  static std::unique_ptr<httplib::Server> CreateServer(const SnapshotCache& cache,
                                                       const BoardSettings& settings);
};

}  // namespace callsink
