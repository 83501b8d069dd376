#include "protocol/acd_request.h"

#include "protocol/acd_header.h"
#include "protocol/wire_coding.h"

namespace callsink {

using wire::RequestType;

AcdRequest::AcdRequest(RequestType type, uint32_t request_id, size_t size) : size_(size) {
  AcdHeader header;
  header.msg_class = static_cast<uint16_t>(wire::MessageClass::kRequest);
  header.msg_type = static_cast<uint16_t>(type);
  header.result = wire::kResultSuccess;
  header.request_id = request_id;
  header.length = static_cast<uint32_t>(size);
  header.timestamp = 0;
  HeaderToNetwork(header, std::span(bytes_).first<wire::kHeaderSize>());
}

void AcdRequest::StoreValue(size_t offset, uint32_t value, ValueOrder order) {
  if (order == ValueOrder::kLittleEndian) {
    wire::StoreLittleEndian32(&bytes_[offset], value);
  } else {
    wire::StoreBigEndian32(&bytes_[offset], value);
  }
}

AcdRequest AcdRequest::ValueRequest(RequestType type, uint32_t request_id, uint32_t value) {
  AcdRequest request(type, request_id, wire::kValueRequestSize);
  request.StoreValue(wire::kValueRequestValueOffset, value, ValueOrder::kBigEndian);
  return request;
}

AcdRequest AcdRequest::GroupRequest(RequestType type, uint32_t request_id, std::string_view name,
                                    uint32_t value, ValueOrder order) {
  AcdRequest request(type, request_id, wire::kGroupRequestSize);
  wire::StoreText(&request.bytes_[wire::kGroupRequestNameOffset], wire::kNameWidth, name);
  request.StoreValue(wire::kGroupRequestValueOffset, value, order);
  return request;
}

AcdRequest AcdRequest::AgentGroupRequest(RequestType type, uint32_t request_id,
                                         std::string_view agent, std::string_view group,
                                         uint32_t value, ValueOrder order) {
  AcdRequest request(type, request_id, wire::kAgentGroupRequestSize);
  wire::StoreText(&request.bytes_[wire::kAgentGroupRequestAgentOffset], wire::kNameWidth, agent);
  wire::StoreText(&request.bytes_[wire::kAgentGroupRequestGroupOffset], wire::kNameWidth, group);
  request.StoreValue(wire::kAgentGroupRequestValueOffset, value, order);
  return request;
}

AcdRequest AcdRequest::SubscribeStatus(uint32_t request_id, std::string_view group_filter,
                                       std::string_view agent_filter) {
  return AgentGroupRequest(RequestType::kSubscribeStatus, request_id, agent_filter, group_filter,
                           wire::kSubscribeFlag, ValueOrder::kLittleEndian);
}

AcdRequest AcdRequest::SubscribeCall(uint32_t request_id, std::string_view group_filter) {
  return GroupRequest(RequestType::kSubscribeCall, request_id, group_filter, wire::kSubscribeFlag,
                      ValueOrder::kLittleEndian);
}

AcdRequest AcdRequest::SubscribeCDR(uint32_t request_id, std::string_view group_filter) {
  return GroupRequest(RequestType::kSubscribeCdr, request_id, group_filter, wire::kSubscribeFlag,
                      ValueOrder::kLittleEndian);
}

AcdRequest AcdRequest::SubscribeConfig(uint32_t request_id) {
  return ValueRequest(RequestType::kSubscribeConfig, request_id, wire::kSubscribeFlag);
}

AcdRequest AcdRequest::Status(uint32_t request_id, std::string_view group, std::string_view agent) {
  return AgentGroupRequest(RequestType::kStatus, request_id, agent, group, 0,
                           ValueOrder::kBigEndian);
}

AcdRequest AcdRequest::GetGroups(uint32_t request_id) {
  return ValueRequest(RequestType::kGetGroups, request_id, 0);
}

AcdRequest AcdRequest::GetAgents(uint32_t request_id, std::string_view group) {
  return GroupRequest(RequestType::kGetAgents, request_id, group, 0, ValueOrder::kBigEndian);
}

AcdRequest AcdRequest::GetAllAgents(uint32_t request_id) {
  return GroupRequest(RequestType::kGetAllAgents, request_id, {}, 0, ValueOrder::kBigEndian);
}

}  // namespace callsink
