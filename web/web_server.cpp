#include "web/web_server.h"

#include <pthread.h>
#include <sys/stat.h>

#include <utility>

namespace callsink {

WebServer::WebServer(WebSite site, std::string config_file, Log log, int reload_interval_ms)
    : site_(std::move(site)),
      config_file_(std::move(config_file)),
      log_(std::move(log)),
      reload_interval_ms_(reload_interval_ms) {}

WebServer::~WebServer() { Stop(); }

std::string WebServer::FilesState() const {
  std::string state;
  std::vector<std::string> files = config_.Files();
  files.insert(files.begin(), config_file_);
  for (const std::string& file : files) {
    struct stat info {};
    state += file + '\n';
    if (stat(file.c_str(), &info) != 0) continue;
    state += std::to_string(info.st_ino) + ' ' + std::to_string(info.st_size) + ' ' +
             std::to_string(info.st_mtim.tv_sec) + '.' + std::to_string(info.st_mtim.tv_nsec) +
             '\n';
  }
  return state;
}

bool WebServer::Listen(const WebConfig& config, std::string* error) {
  auto listener = std::make_unique<WebListener>(site_, config);
  if (!listener->Start(host_, port_, error)) return false;
  port_ = listener->port();
  listener_ = std::move(listener);
  return true;
}

bool WebServer::Start(const std::string& host, int port, std::string* error) {
  host_ = host;
  port_ = port;
  if (!config_file_.empty() && !WebConfig::Load(config_file_, &config_, error)) return false;
  files_state_ = FilesState();
  if (!Listen(config_, error)) return false;
  if (config_file_.empty()) return true;
  stopping_ = false;
  follower_ = std::thread([this] { FollowConfig(); });
  pthread_setname_np(follower_.native_handle(), "web-config");
  return true;
}

void WebServer::FollowConfig() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_requested_.wait_for(lock, std::chrono::milliseconds(reload_interval_ms_),
                                   [this] { return stopping_; })) {
    const std::string state = FilesState();
    if (state == files_state_) continue;
    files_state_ = state;
    Reload();
  }
}

void WebServer::Reload() {
  WebConfig config;
  std::string error;
  if (!WebConfig::Load(config_file_, &config, &error)) {
    log_("Web configuration refused, nothing is served: " + error);
    listener_.reset();
    return;
  }
  // The old listener goes first: the new one takes its port.
  listener_.reset();
  config_ = config;
  files_state_ = FilesState();  // the files it names now
  if (!Listen(config_, &error)) {
    log_("Web configuration " + config_file_ + " refused, nothing is served: " + error);
    return;
  }
  log_("Web configuration " + config_file_ + " read again");
}

void WebServer::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_requested_.notify_all();
  if (follower_.joinable()) follower_.join();
  listener_.reset();
}

}  // namespace callsink
