#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/wire_format.h"

namespace callsink {

// The 20-byte header of every ACD protocol message, in host byte order.
// `msg_class` and `msg_type` are kept as received: values outside the
// protocol's tables are passed on, not rejected.
struct AcdHeader {
  uint16_t protocol = 0;
  uint16_t msg_class = 0;
  uint16_t msg_type = 0;
  uint16_t result = 0;
  uint32_t request_id = 0;
  uint32_t length = 0;  // whole message, header included
  uint32_t timestamp = 0;

  bool operator==(const AcdHeader&) const = default;
};

// Writes `header` as its 20 wire bytes. `protocol` goes out as
// wire::kProtocolId whatever the header holds.
void HeaderToNetwork(const AcdHeader& header, std::span<uint8_t, wire::kHeaderSize> out);

// Reads the 20 wire bytes of a received header. Tests no field.
AcdHeader HeaderToHost(std::span<const uint8_t, wire::kHeaderSize> bytes);

// The number of body bytes that follow a received header: `length` - 20 when
// the whole message fits a receive buffer of wire::kMaxMessageSize bytes;
// nullopt when `length` is below 20 or above that size. 0 is a message
// without body.
std::optional<size_t> BodyLength(const AcdHeader& header);

}  // namespace callsink
