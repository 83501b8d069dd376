#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace callsink {

// A GET request as a route's answer sees it.
struct WebRequest {
  std::multimap<std::string, std::string> params;  // the query's, in order
  std::map<std::string, std::string> headers;      // lower-case names
};

// A route's answer: the status, its own headers and the body.
struct WebAnswer {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string content_type;
};

// One page a web server serves at GET `path`, made afresh for each request
// on a serving thread: by `answer` when it is set, which sees the request,
// otherwise by `body`.
struct WebRoute {
  std::string path;
  std::string title;  // its link's text on the landing page
  std::string content_type;
  std::function<std::string()> body;
  std::function<WebAnswer(const WebRequest&)> answer;
};

// What a program serves: its pages, and at "/" a landing page with its name,
// its version and a link to each page, unless a route of its own has the
// path "/".
struct WebSite {
  std::string name;
  std::string version;
  std::vector<WebRoute> routes;
  // Requests answered at once; more than one for a site many viewers poll.
  size_t serving_threads = 1;
  // False: one request per connection, so that no idle kept-alive
  // connection holds a serving thread between two polls.
  bool keep_alive = true;

  // The landing page's HTML.
  std::string LandingPage() const;
};

}  // namespace callsink
