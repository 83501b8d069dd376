#include "protocol/call_body.h"

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

namespace callsink {

std::optional<CallBody> CallBody::Decode(const uint8_t* body, size_t length) {
  if (length < wire::kCallBodySize) return std::nullopt;
  CallBody decoded;
  decoded.group = wire::LoadText(body + wire::kCallGroupOffset, wire::kNameWidth);
  decoded.call_id = wire::LoadText(body + wire::kCallIdOffset, wire::kCallIdWidth);
  decoded.call_state = wire::LoadBigEndianSigned32(body + wire::kCallStateOffset);
  decoded.close_reason = wire::LoadBigEndianSigned32(body + wire::kCallCloseReasonOffset);
  decoded.agent = wire::LoadText(body + wire::kCallAgentOffset, wire::kNameWidth);
  decoded.calls_in_queue = wire::LoadBigEndianSigned32(body + wire::kCallQueueLengthOffset);
  return decoded;
}

}  // namespace callsink
