#include "protocol/status_body.h"

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

namespace callsink {

std::optional<StatusBody> StatusBody::Decode(const uint8_t* body, size_t length) {
  if (length < wire::kStatusBodySize) return std::nullopt;
  StatusBody decoded;
  decoded.agent = wire::LoadText(body + wire::kStatusAgentOffset, wire::kNameWidth);
  decoded.group = wire::LoadText(body + wire::kStatusGroupOffset, wire::kNameWidth);
  decoded.status = wire::LoadBigEndianSigned32(body + wire::kStatusCodeOffset);
  return decoded;
}

}  // namespace callsink
