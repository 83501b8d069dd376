#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/name_table.h"

namespace callsink {

// The body of a GetAgents response: the group that was asked and the names
// of its members.
//
// A view into the received bytes, valid while those stay unchanged.
struct AgentList {
  std::string_view group;
  // The member names that arrived whole, in order (column 0).
  NameTable agents;

  // Decodes `length` received body bytes. Nullopt when the group or the
  // count is missing. A count that reaches past the end yields the entries
  // that lie wholly inside (see GroupList).
  static std::optional<AgentList> Decode(const uint8_t* body, size_t length);
};

}  // namespace callsink
