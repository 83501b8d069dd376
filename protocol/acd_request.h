#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/wire_format.h"

namespace callsink {

// One request record in wire form, ready to send: header (class Request,
// result 0, timestamp 0, length the shape's size) and the request's fields;
// every byte that no field sets is zero. A value type holding its bytes
// inline; building one never fails and never allocates.
//
// Names are copied up to their first NUL and cut at 15 characters, so the
// field always keeps its terminating NUL.
class AcdRequest {
 public:
  // Agent filter at offset 20, group filter at 36, subscribe flag
  // little-endian.
  static AcdRequest SubscribeStatus(uint32_t request_id, std::string_view group_filter,
                                    std::string_view agent_filter);
  // Group filter at offset 20, subscribe flag little-endian.
  static AcdRequest SubscribeCall(uint32_t request_id, std::string_view group_filter);
  static AcdRequest SubscribeCDR(uint32_t request_id, std::string_view group_filter);
  // Subscribe flag big-endian.
  static AcdRequest SubscribeConfig(uint32_t request_id);
  // The Status request: agent at offset 20, group at 36, value 0.
  static AcdRequest Status(uint32_t request_id, std::string_view group, std::string_view agent);
  static AcdRequest GetGroups(uint32_t request_id);
  static AcdRequest GetAgents(uint32_t request_id, std::string_view group);
  // Its name field stays all zero.
  static AcdRequest GetAllAgents(uint32_t request_id);

  std::span<const uint8_t> bytes() const { return {bytes_.data(), size_}; }
  const uint8_t* data() const { return bytes_.data(); }
  size_t size() const { return size_; }

 private:
  enum class ValueOrder { kBigEndian, kLittleEndian };

  static AcdRequest ValueRequest(wire::RequestType type, uint32_t request_id, uint32_t value);
  static AcdRequest GroupRequest(wire::RequestType type, uint32_t request_id, std::string_view name,
                                 uint32_t value, ValueOrder order);
  static AcdRequest AgentGroupRequest(wire::RequestType type, uint32_t request_id,
                                      std::string_view agent, std::string_view group,
                                      uint32_t value, ValueOrder order);
  AcdRequest(wire::RequestType type, uint32_t request_id, size_t size);
  void StoreValue(size_t offset, uint32_t value, ValueOrder order);

  std::array<uint8_t, wire::kLargestRequestSize> bytes_{};
  size_t size_;
};

}  // namespace callsink
