#include "protocol/cdr_body.h"

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

namespace callsink {

std::optional<CdrBody> CdrBody::Decode(const uint8_t* body, size_t length) {
  if (length < wire::kCdrBodySize) return std::nullopt;
  CdrBody decoded;
  decoded.group = wire::LoadText(body + wire::kCdrGroupOffset, wire::kNameWidth);
  decoded.call_time = wire::LoadBigEndian32(body + wire::kCdrCallTimeOffset);
  decoded.queue_duration = wire::LoadBigEndianSigned32(body + wire::kCdrQueueDurationOffset);
  decoded.call_duration = wire::LoadBigEndianSigned32(body + wire::kCdrCallDurationOffset);
  decoded.caller_user = wire::LoadText(body + wire::kCdrCallerOffset, wire::kCallerWidth);
  decoded.call_guid = wire::LoadText(body + wire::kCdrCallGuidOffset, wire::kCallIdWidth);
  decoded.call_state = wire::LoadBigEndianSigned32(body + wire::kCdrCallStateOffset);
  decoded.close_reason = wire::LoadBigEndianSigned32(body + wire::kCdrCloseReasonOffset);
  decoded.agent = wire::LoadText(body + wire::kCdrAgentOffset, wire::kNameWidth);
  return decoded;
}

}  // namespace callsink
