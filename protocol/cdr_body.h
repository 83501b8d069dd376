#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace callsink {

// The body of a CDR event: one finished call.
//
// Texts are views into the received bytes, valid while those stay unchanged.
struct CdrBody {
  std::string_view group;
  uint32_t call_time = 0;  // seconds since 1970-01-01 00:00 UTC
  int32_t queue_duration = 0;
  int32_t call_duration = 0;
  std::string_view caller_user;
  std::string_view call_guid;
  int32_t call_state = 0;
  int32_t close_reason = 0;
  std::string_view agent;

  // Decodes `length` received body bytes; bytes beyond the layout are
  // ignored. Nullopt when the body is shorter than its layout (the message
  // is dropped whole, see StatusBody).
  static std::optional<CdrBody> Decode(const uint8_t* body, size_t length);
};

}  // namespace callsink
