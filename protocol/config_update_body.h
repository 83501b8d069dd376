#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace callsink {

// The body of GroupUpdate, RelationUpdate and AgentUpdate events: a group,
// a membership or an agent was added (state other than 0) or removed
// (state 0). Each event type uses only some of the names.
//
// Names are views into the received bytes, valid while those stay unchanged.
struct ConfigUpdateBody {
  std::string_view group;      // GroupUpdate, RelationUpdate
  std::string_view agent;      // RelationUpdate, AgentUpdate
  int32_t state = 0;           // all three
  std::string_view full_name;  // AgentUpdate

  // Decodes `length` received body bytes; bytes beyond the layout are
  // ignored. Nullopt when the body is shorter than its layout (the message
  // is dropped whole, see StatusBody), whichever type it belongs to.
  static std::optional<ConfigUpdateBody> Decode(const uint8_t* body, size_t length);
};

}  // namespace callsink
