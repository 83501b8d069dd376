#pragma once

#include <functional>
#include <string>

#include "web/web_server.h"

namespace callsink {

// Serves a page in the Prometheus text format at GET /metrics, and a landing
// page at "/", on one address (WebServer): plain HTTP, or as a web
// configuration file says (TLS, client certificates, basic authentication),
// from a thread of its own that answers one request at a time. The page is
// made afresh for every request by the source given, on that thread.
//
// Start and Stop belong to one thread; the destructor stops.
class MetricsEndpoint {
 public:
  using PageSource = std::function<std::string()>;

  // `web_config`: the web configuration file ("": plain HTTP); `log` gets
  // the lines about its reloads, on another thread.
  explicit MetricsEndpoint(
      PageSource source, std::string web_config = {},
      WebServer::Log log = [](const std::string&) {});
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Listens on `host`:`port` (port 0: a free one) and serves until Stop.
  // False, with the reason in `error`, when the web configuration is not
  // valid or it cannot listen.
  bool Start(const std::string& host, int port, std::string* error) {
    return server_.Start(host, port, error);
  }
  // The port it listens on; 0 before Start.
  int port() const { return server_.port(); }
  // Ends the serving after the request in hand, if any.
  void Stop() { server_.Stop(); }

 private:
  WebServer server_;
};

}  // namespace callsink
