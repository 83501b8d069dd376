#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/wire_format.h"

namespace callsink::acdsim {

// What a simulator has done since it started, over all its listeners.
struct SimStats {
  uint64_t connections = 0;
  uint64_t requests = 0;
  std::array<uint64_t, wire::kEventTypeCount> events{};  // sent, by event type
  uint64_t missed = 0;  // events no connection received (not in the summary)

  uint64_t total_events() const;
  // One line: "acdsim: N connections, N requests, N events (Status N, CDR N,
  // Call N, GroupUpdate N, RelationUpdate N, AgentUpdate N)".
  std::string Summary() const;
};

}  // namespace callsink::acdsim
