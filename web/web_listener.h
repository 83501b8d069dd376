#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "web/basic_auth.h"
#include "web/web_config.h"
#include "web/web_site.h"

namespace httplib {
class Server;
}

namespace callsink {

// One listening socket serving a WebSite as one WebConfig says (TLS, client
// certificates, basic authentication, headers), from a thread of its own
// (named "web") that answers one request at a time.
//
// Start and Stop belong to one thread; the destructor stops.
class WebListener {
 public:
  // `site` and `config` are copied.
  WebListener(const WebSite& site, const WebConfig& config);
  ~WebListener();
  WebListener(const WebListener&) = delete;
  WebListener& operator=(const WebListener&) = delete;

  // Listens on `host`:`port` (port 0: a free one) and serves until Stop.
  // False, with the reason in `error`, when the certificate, its key or the
  // client CAs cannot be used or it cannot listen there.
  bool Start(const std::string& host, int port, std::string* error);
  // The port it listens on; 0 before Start.
  int port() const { return port_; }
  // Ends the serving thread after the request in hand, if any.
  void Stop();

  const BasicAuth& auth() const { return auth_; }

 private:
  bool MakeServer(std::string* error);
  void AddRoutes();

  const WebSite site_;
  const WebConfig config_;
  BasicAuth auth_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  // Set once the serving thread has left the library's listen loop.
  std::atomic<bool> listen_returned_{false};
  int port_ = 0;
};

}  // namespace callsink
