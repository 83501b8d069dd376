#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace callsink {

// Serves a page in the Prometheus text format at GET /metrics, over HTTP on
// one address, from a thread of its own (named "metrics") that answers one
// request at a time. The page is made afresh for every request by the
// source given, on that thread.
//
// Start and Stop belong to one thread; the destructor stops.
class MetricsEndpoint {
 public:
  using PageSource = std::function<std::string()>;

  explicit MetricsEndpoint(PageSource source);
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Listens on `host`:`port` (port 0: a free one) and serves until Stop.
  // False, with the reason in `error`, when it cannot listen.
  bool Start(const std::string& host, int port, std::string* error);
  // The port it listens on; 0 before Start.
  int port() const { return port_; }
  // Ends the serving thread after the request in hand, if any.
  void Stop();

 private:
  const PageSource source_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  // Set once the serving thread has left the library's listen loop.
  std::atomic<bool> listen_returned_{false};
  int port_ = 0;
};

}  // namespace callsink
