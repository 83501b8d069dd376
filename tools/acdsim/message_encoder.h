#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "protocol/wire_format.h"
#include "tools/acdsim/call_centre.h"
#include "tools/acdsim/sim_event.h"

namespace callsink::acdsim {

// Writes the bodies of the server's responses and events. Each function
// writes into `body` (at least kMaxBodySize bytes) and returns the body's
// length.
//
// Names are copied up to the full width of their field: a 16-character name
// fills its field without NUL, which is how the simulator sends names
// without NUL on request; shorter names get their NUL and zeros.
class MessageEncoder {
 public:
  static constexpr size_t kMaxBodySize = wire::kMaxMessageSize - wire::kHeaderSize;
  // The most list entries one message holds.
  static constexpr size_t kGroupsPerMessage =
      (kMaxBodySize - wire::kGroupListEntriesOffset) / wire::kGroupListEntryWidth;
  static constexpr size_t kAgentsPerMessage =
      (kMaxBodySize - wire::kAgentListEntriesOffset) / wire::kAgentListEntryWidth;
  static constexpr size_t kFullAgentsPerMessage =
      (kMaxBodySize - wire::kFullAgentListEntriesOffset) / wire::kFullAgentListEntryWidth;

  using FullAgent = std::pair<std::string_view, std::string_view>;  // name, full name

  static size_t Status(std::span<uint8_t> body, std::string_view agent, std::string_view group,
                       int32_t status);
  // `count` is what the list says it holds; the entries sent are `groups`.
  static size_t GroupList(std::span<uint8_t> body, uint32_t count,
                          std::span<const std::string_view> groups);
  static size_t AgentList(std::span<uint8_t> body, std::string_view group, uint32_t count,
                          std::span<const std::string_view> agents);
  static size_t FullAgentList(std::span<uint8_t> body, uint32_t count,
                              std::span<const FullAgent> agents);
  // The body of `event`, names taken from `centre`.
  static size_t Event(std::span<uint8_t> body, const SimEvent& event, const CallCentre& centre);
};

}  // namespace callsink::acdsim
