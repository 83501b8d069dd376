#include "web/web_site.h"

namespace callsink {
namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string WebSite::LandingPage() const {
  std::string page = "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>" +
                     Escaped(name) + "</title></head>\n<body>\n<h1>" + Escaped(name) +
                     "</h1>\n<p>Version " + Escaped(version) + "</p>\n<ul>\n";
  for (const WebRoute& route : routes) {
    page += "<li><a href=\"" + Escaped(route.path) + "\">" + Escaped(route.title) + "</a></li>\n";
  }
  return page + "</ul>\n</body>\n</html>\n";
}

}  // namespace callsink
