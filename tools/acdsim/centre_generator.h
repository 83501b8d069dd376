#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/acdsim/call_centre.h"
#include "tools/acdsim/sim_random.h"

namespace callsink::acdsim {

// Makes up plausible call centres and names, the same ones for the same
// random start.
class CentreGenerator {
 public:
  // `groups` groups and `agents` agents named by extension ("1001", ...).
  // Agent i joins group i mod `groups` and, with some chance, one more;
  // every group has members once there are at least as many agents. Most
  // members start available, some paused or logged out.
  static CallCentre Generate(size_t groups, size_t agents, uint64_t random_start);

  // The name of the group in position `index`: department names first, then
  // "Queue<N>".
  static std::string GroupName(size_t index);
  // The agent with extension 1001 + `index`.
  static std::string AgentName(size_t index);
  // "First Last", at most 15 characters.
  static std::string FullName(SimRandom& random);
};

}  // namespace callsink::acdsim
