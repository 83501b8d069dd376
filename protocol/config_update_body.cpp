#include "protocol/config_update_body.h"

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

namespace callsink {

std::optional<ConfigUpdateBody> ConfigUpdateBody::Decode(const uint8_t* body, size_t length) {
  if (length < wire::kConfigUpdateBodySize) return std::nullopt;
  ConfigUpdateBody decoded;
  decoded.group = wire::LoadText(body + wire::kConfigGroupOffset, wire::kNameWidth);
  decoded.agent = wire::LoadText(body + wire::kConfigAgentOffset, wire::kNameWidth);
  decoded.state = wire::LoadBigEndianSigned32(body + wire::kConfigStateOffset);
  decoded.full_name = wire::LoadText(body + wire::kConfigFullNameOffset, wire::kNameWidth);
  return decoded;
}

}  // namespace callsink
