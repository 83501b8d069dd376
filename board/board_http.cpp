#include "board/board_http.h"

#include <sys/socket.h>

#include <httplib.h>
#include <string>
#include <vector>

#include "board/board_bodies.h"
#include "board/board_page.h"
#include "board/snapshot_cache.h"

namespace callsink {
namespace {

// Viewers poll every few seconds: one request per connection, so that no
// idle kept-alive connection holds a serving thread between two polls.
constexpr size_t kServingThreads = 8;
constexpr time_t kReadTimeoutSeconds = 5;
// The page runs only its own script and style and talks only to us.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::vector<std::string> Values(const httplib::Request& request, const char* name) {
  std::vector<std::string> values;
  const auto [first, last] = request.params.equal_range(name);
  for (auto value = first; value != last; ++value) values.push_back(value->second);
  return values;
}

void Serve(httplib::Server* server, const char* path, std::string_view content, const char* type) {
  server->Get(path, [content, type](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy", kPagePolicy);
    response.set_header("Cache-Control", "no-cache");
    response.set_content(content.data(), content.size(), type);
  });
}

}  // namespace

std::unique_ptr<httplib::Server> BoardHttp::CreateServer(const SnapshotCache& cache,
                                                         const BoardSettings& settings) {
  auto server = std::make_unique<httplib::Server>();
  server->new_task_queue = [] { return new httplib::ThreadPool(kServingThreads); };
  server->set_read_timeout(kReadTimeoutSeconds);
  server->set_keep_alive_max_count(1);
  // Without the library's SO_REUSEPORT: a second board on the same port
  // fails to listen instead of taking every other request.
  server->set_socket_options([](int socket_fd) {
    const int on = 1;
    setsockopt(socket_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
  server->set_default_headers({{"X-Content-Type-Options", "nosniff"}});
  Serve(server.get(), "/", BoardPage::Html(), "text/html; charset=utf-8");
  Serve(server.get(), "/board.css", BoardPage::Css(), "text/css; charset=utf-8");
  Serve(server.get(), "/board.js", BoardPage::Script(), "text/javascript; charset=utf-8");
  auto bodies = std::make_shared<BoardBodies>(cache, settings);
  server->Get("/api/board", [bodies](const httplib::Request& request, httplib::Response& response) {
    const auto body = bodies->For(Values(request, "server"), Values(request, "group"));
    response.set_header("ETag", body->tag);
    response.set_header("Cache-Control", "no-cache");
    if (request.get_header_value("If-None-Match") == body->tag) {
      response.status = 304;
      return;
    }
    response.set_content(body->json, "application/json");
  });
  return server;
}

}  // namespace callsink
