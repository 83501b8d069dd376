#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace callsink {

// The body of a Call event: a call changed state; carries the group's queue
// length.
//
// Texts are views into the received bytes, valid while those stay unchanged.
struct CallBody {
  std::string_view group;
  std::string_view call_id;
  int32_t call_state = 0;
  int32_t close_reason = 0;
  std::string_view agent;
  int32_t calls_in_queue = 0;

  // Decodes `length` received body bytes; bytes beyond the layout are
  // ignored. Nullopt when the body is shorter than its layout (the message
  // is dropped whole, see StatusBody).
  static std::optional<CallBody> Decode(const uint8_t* body, size_t length);
};

}  // namespace callsink
