#include "protocol/acd_header.h"

#include "protocol/wire_coding.h"

namespace callsink {

void HeaderToNetwork(const AcdHeader& header, std::span<uint8_t, wire::kHeaderSize> out) {
  wire::StoreBigEndian16(&out[wire::kProtocolOffset], wire::kProtocolId);
  wire::StoreBigEndian16(&out[wire::kClassOffset], header.msg_class);
  wire::StoreBigEndian16(&out[wire::kTypeOffset], header.msg_type);
  wire::StoreBigEndian16(&out[wire::kResultOffset], header.result);
  wire::StoreBigEndian32(&out[wire::kRequestIdOffset], header.request_id);
  wire::StoreBigEndian32(&out[wire::kLengthOffset], header.length);
  wire::StoreBigEndian32(&out[wire::kTimestampOffset], header.timestamp);
}

AcdHeader HeaderToHost(std::span<const uint8_t, wire::kHeaderSize> bytes) {
  AcdHeader header;
  header.protocol = wire::LoadBigEndian16(&bytes[wire::kProtocolOffset]);
  header.msg_class = wire::LoadBigEndian16(&bytes[wire::kClassOffset]);
  header.msg_type = wire::LoadBigEndian16(&bytes[wire::kTypeOffset]);
  header.result = wire::LoadBigEndian16(&bytes[wire::kResultOffset]);
  header.request_id = wire::LoadBigEndian32(&bytes[wire::kRequestIdOffset]);
  header.length = wire::LoadBigEndian32(&bytes[wire::kLengthOffset]);
  header.timestamp = wire::LoadBigEndian32(&bytes[wire::kTimestampOffset]);
  return header;
}

std::optional<size_t> BodyLength(const AcdHeader& header) {
  if (header.length < wire::kHeaderSize || header.length > wire::kMaxMessageSize)
    return std::nullopt;
  return header.length - wire::kHeaderSize;
}

}  // namespace callsink
