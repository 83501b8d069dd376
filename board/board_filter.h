#pragma once

#include <set>
#include <string>
#include <vector>

namespace callsink {

// A viewer's choice of ACD servers and groups (?server=...&group=...,
// either repeatable). A list left empty keeps everything; names are
// compared as UTF-8, the way the page shows and the address carries them.
class BoardFilter {
 public:
  BoardFilter() = default;
  BoardFilter(const std::vector<std::string>& servers, const std::vector<std::string>& groups)
      : servers_(servers.begin(), servers.end()), groups_(groups.begin(), groups.end()) {}

  bool Keeps(const std::string& server, const std::string& group) const {
    return (servers_.empty() || servers_.contains(server)) &&
           (groups_.empty() || groups_.contains(group));
  }

 private:
  std::set<std::string> servers_, groups_;
};

}  // namespace callsink
