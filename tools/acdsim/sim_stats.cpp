#include "tools/acdsim/sim_stats.h"

#include <numeric>

namespace callsink::acdsim {

uint64_t SimStats::total_events() const {
  return std::accumulate(events.begin(), events.end(), uint64_t{0});
}

std::string SimStats::Summary() const {
  static constexpr const char* kNames[wire::kEventTypeCount] = {
      "Status", "CDR", "Call", "GroupUpdate", "RelationUpdate", "AgentUpdate"};
  std::string line = "acdsim: " + std::to_string(connections) + " connections, " +
                     std::to_string(requests) + " requests, " + std::to_string(total_events()) +
                     " events (";
  for (size_t type = 0; type < events.size(); ++type) {
    if (type > 0) line += ", ";
    line += std::string(kNames[type]) + " " + std::to_string(events[type]);
  }
  return line + ")";
}

}  // namespace callsink::acdsim
