#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "web/web_config.h"
#include "web/web_listener.h"
#include "web/web_site.h"

namespace callsink {

// Serves a WebSite on one address, plain or as a web configuration file
// says, and follows that file: a thread of its own (named "web-config")
// looks at it and at the files it names every `reload_interval_ms` and,
// when any changed, reads it again and serves as it now says (a renewed
// certificate takes effect without a restart). A file that is no longer
// valid stops the serving, with a line saying why, until it is valid again:
// nothing is ever served with less protection than the file asks for.
//
// Start and Stop belong to one thread; the destructor stops. `log` is
// called on the reload thread.
class WebServer {
 public:
  using Log = std::function<void(const std::string& line)>;
  static constexpr int kDefaultReloadIntervalMs = 3000;

  // `config_file`: the web configuration file; "": plain HTTP, no
  // authentication, nothing to follow.
  WebServer(WebSite site, std::string config_file, Log log,
            int reload_interval_ms = kDefaultReloadIntervalMs);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Reads the configuration file and listens on `host`:`port` (port 0: a
  // free one, kept across reloads). False, with the reason in `error`, when
  // the file is not valid or the server cannot listen; then nothing is
  // served and nothing followed.
  bool Start(const std::string& host, int port, std::string* error);
  // The port it listens on; 0 before Start.
  int port() const { return port_; }
  void Stop();

 private:
  // What the files looked like: names, sizes, modification times.
  std::string FilesState() const;
  bool Listen(const WebConfig& config, std::string* error);
  void FollowConfig();
  void Reload();

  const WebSite site_;
  const std::string config_file_;
  const Log log_;
  const int reload_interval_ms_;
  std::string host_;
  int port_ = 0;
  WebConfig config_;  // as last read whole
  std::string files_state_;
  std::unique_ptr<WebListener> listener_;  // empty while the file is not valid
  std::thread follower_;
  std::mutex mutex_;
  std::condition_variable stop_requested_;
  bool stopping_ = false;
};

}  // namespace callsink
