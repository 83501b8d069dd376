#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace callsink {

// The body of a Status response and of a Status event: one agent's status
// code in one group.
//
// Names are views into the received bytes, valid while those stay unchanged.
struct StatusBody {
  std::string_view agent;
  std::string_view group;
  int32_t status = 0;

  // Decodes `length` received body bytes; bytes beyond the layout are
  // ignored. Nullopt when the body is shorter than its layout: a message
  // missing a field is dropped whole rather than stored with a made-up value.
  static std::optional<StatusBody> Decode(const uint8_t* body, size_t length);
};

}  // namespace callsink
