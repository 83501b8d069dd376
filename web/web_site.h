#pragma once

#include <functional>
#include <string>
#include <vector>

namespace callsink {

// One page a web server serves at GET `path`, made afresh for each request
// by `body` on the serving thread.
struct WebRoute {
  std::string path;
  std::string title;  // its link's text on the landing page
  std::string content_type;
  std::function<std::string()> body;
};

// What a program serves: its pages, and at "/" a landing page with its name,
// its version and a link to each page.
struct WebSite {
  std::string name;
  std::string version;
  std::vector<WebRoute> routes;

  // The landing page's HTML.
  std::string LandingPage() const;
};

}  // namespace callsink
