#include "board/board_http.h"

#include <memory>
#include <string>
#include <vector>

#include "board/board_bodies.h"
#include "board/board_page.h"
#include "board/board_reports.h"
#include "board/snapshot_cache.h"

namespace callsink {
namespace {

// Viewers poll every few seconds: answered side by side, one request per
// connection (see WebSite::keep_alive).
constexpr size_t kServingThreads = 8;
// The page runs only its own script and style and talks only to us.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::vector<std::string> Values(const WebRequest& request, const char* name) {
  std::vector<std::string> values;
  const auto [first, last] = request.params.equal_range(name);
  for (auto value = first; value != last; ++value) values.push_back(value->second);
  return values;
}

WebRoute Asset(const char* path, std::string_view content, const char* type) {
  WebRoute route{path, path, type, {}, {}};
  route.answer = [content, type](const WebRequest&) {
    return WebAnswer{200,
                     {{"Content-Security-Policy", kPagePolicy},
                      {"Cache-Control", "no-cache"},
                      {"X-Content-Type-Options", "nosniff"}},
                     std::string(content),
                     type};
  };
  return route;
}

}  // namespace

WebSite BoardHttp::Site(const SnapshotCache& cache, const BoardSettings& settings) {
  WebSite site{"callsinkboard", "1", {}};
  site.serving_threads = kServingThreads;
  site.keep_alive = false;
  site.routes.push_back(Asset("/", BoardPage::Html(), "text/html; charset=utf-8"));
  site.routes.push_back(Asset("/board.css", BoardPage::Css(), "text/css; charset=utf-8"));
  site.routes.push_back(Asset("/board.js", BoardPage::Script(), "text/javascript; charset=utf-8"));
  auto bodies = std::make_shared<BoardBodies>(cache, settings);
  WebRoute api{"/api/board", "/api/board", "application/json", {}, {}};
  api.answer = [bodies](const WebRequest& request) {
    const auto body = bodies->For(Values(request, "server"), Values(request, "group"));
    WebAnswer answer{
        200,
        {{"ETag", body->tag}, {"Cache-Control", "no-cache"}, {"X-Content-Type-Options", "nosniff"}},
        {},
        {}};
    const auto asked = request.headers.find("if-none-match");
    if (asked != request.headers.end() && asked->second == body->tag) {
      answer.status = 304;
      return answer;
    }
    answer.body = body->json;
    answer.content_type = "application/json";
    return answer;
  };
  site.routes.push_back(std::move(api));
  site.routes.push_back(Asset("/reports", BoardPage::ReportsHtml(), "text/html; charset=utf-8"));
  site.routes.push_back(
      Asset("/reports.js", BoardPage::ReportsScript(), "text/javascript; charset=utf-8"));
  auto reports = std::make_shared<const BoardReports>(settings);
  WebRoute report{"/api/report", "/api/report", "text/csv", {}, {}};
  report.answer = [reports](const WebRequest& request) { return reports->Answer(request); };
  site.routes.push_back(std::move(report));
  return site;
}

}  // namespace callsink
