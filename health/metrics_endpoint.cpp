#include "health/metrics_endpoint.h"

#include <pthread.h>
#include <sys/socket.h>

#include <httplib.h>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "health/metrics_text.h"

namespace callsink {
namespace {

constexpr const char* kPath = "/metrics";
// A scrape is answered in milliseconds; a client that sends nothing for
// this long is dropped, so it cannot hold the one serving thread.
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kKeepAliveSeconds = 1;

}  // namespace

MetricsEndpoint::MetricsEndpoint(PageSource source) : source_(std::move(source)) {}

MetricsEndpoint::~MetricsEndpoint() { Stop(); }

bool MetricsEndpoint::Start(const std::string& host, int port, std::string* error) {
  server_ = std::make_unique<httplib::Server>();
  server_->new_task_queue = [] { return new httplib::ThreadPool(1); };
  server_->set_read_timeout(kReadTimeoutSeconds);
  // An idle kept-alive connection holds up Stop until its time is over.
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // collector listen on the same port and answer every other scrape. Only
  // SO_REUSEADDR stays, so that a restart listens again at once.
  server_->set_socket_options([](int socket_fd) {
    const int on = 1;
    setsockopt(socket_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
  server_->Get(kPath, [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(source_(), MetricsText::kContentType);
  });
  errno = 0;
  const bool bound =
      port == 0 ? (port_ = server_->bind_to_any_port(host)) > 0 : server_->bind_to_port(host, port);
  if (!bound) {
    *error = errno != 0 ? std::strerror(errno) : "cannot listen there";
    server_.reset();
    port_ = 0;
    return false;
  }
  if (port != 0) port_ = port;
  listen_returned_ = false;
  thread_ = std::thread([this, server = server_.get()] {
    server->listen_after_bind();
    listen_returned_ = true;
  });
  pthread_setname_np(thread_.native_handle(), "metrics");
  return true;
}

void MetricsEndpoint::Stop() {
  if (!server_) return;
  // The library's stop does nothing until its listen loop runs: a stop
  // right after the start would leave the thread in accept for ever.
  while (!server_->is_running() && !listen_returned_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  server_->stop();
  thread_.join();
  server_.reset();
}

}  // namespace callsink
