#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/name_table.h"
#include "protocol/wire_format.h"

namespace callsink {

// The body of a GetAllAgents response: every agent with its full name.
//
// A view into the received bytes, valid while those stay unchanged.
struct FullAgentList {
  // Sent by the server; the collector has no use for it.
  std::string_view group;
  // Entries that arrived whole, in order; see agent() and full_name().
  NameTable entries;

  std::string_view agent(size_t index) const { return entries.Name(index, kAgentColumn); }
  std::string_view full_name(size_t index) const { return entries.Name(index, kFullNameColumn); }

  // Decodes `length` received body bytes. Nullopt when the group or the
  // count is missing. A count that reaches past the end yields the entries
  // that lie wholly inside (see GroupList).
  static std::optional<FullAgentList> Decode(const uint8_t* body, size_t length);

 private:
  static constexpr size_t kAgentColumn = wire::kFullAgentEntryAgentOffset / wire::kNameWidth;
  static constexpr size_t kFullNameColumn = wire::kFullAgentEntryFullNameOffset / wire::kNameWidth;
};

}  // namespace callsink
