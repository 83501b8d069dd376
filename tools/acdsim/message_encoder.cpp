#include "tools/acdsim/message_encoder.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "protocol/wire_coding.h"
#include "tools/acdsim/call_centre_model.h"

namespace callsink::acdsim {
namespace {

using wire::EventType;

void StoreName(uint8_t* field, size_t width, std::string_view text) {
  const size_t length = std::min(text.size(), width);
  if (length > 0) std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, width - length);
}

void StoreSigned(uint8_t* field, int32_t value) {
  wire::StoreBigEndian32(field, static_cast<uint32_t>(value));
}

std::string_view GroupName(const CallCentre& centre, uint32_t slot) {
  return slot == CallCentre::kNone ? std::string_view() : centre.group(slot).name;
}

std::string_view AgentName(const CallCentre& centre, uint32_t slot) {
  return slot == CallCentre::kNone ? std::string_view() : centre.agent(slot).name;
}

size_t Cdr(uint8_t* body, const SimEvent& event, const CallCentre& centre) {
  StoreName(body + wire::kCdrGroupOffset, wire::kNameWidth, GroupName(centre, event.group));
  wire::StoreBigEndian32(body + wire::kCdrCallTimeOffset, event.call_time);
  StoreSigned(body + wire::kCdrQueueDurationOffset, event.queue_duration);
  StoreSigned(body + wire::kCdrCallDurationOffset, event.call_duration);
  StoreName(body + wire::kCdrCallerOffset, wire::kCallerWidth,
            CallCentreModel::Caller(event.caller_number));
  StoreName(body + wire::kCdrCallGuidOffset, wire::kCallIdWidth,
            CallCentreModel::CallId(event.call_number));
  StoreSigned(body + wire::kCdrCallStateOffset, event.code);
  StoreSigned(body + wire::kCdrCloseReasonOffset, event.close_reason);
  StoreName(body + wire::kCdrAgentOffset, wire::kNameWidth, AgentName(centre, event.agent));
  return wire::kCdrBodySize;
}

size_t Call(uint8_t* body, const SimEvent& event, const CallCentre& centre) {
  StoreName(body + wire::kCallGroupOffset, wire::kNameWidth, GroupName(centre, event.group));
  StoreName(body + wire::kCallIdOffset, wire::kCallIdWidth,
            CallCentreModel::CallId(event.call_number));
  StoreSigned(body + wire::kCallStateOffset, event.code);
  StoreSigned(body + wire::kCallCloseReasonOffset, event.close_reason);
  StoreName(body + wire::kCallAgentOffset, wire::kNameWidth, AgentName(centre, event.agent));
  StoreSigned(body + wire::kCallQueueLengthOffset, event.calls_in_queue);
  return wire::kCallBodySize;
}

// Each update names only what its type is about; the other fields stay zero.
size_t ConfigUpdate(uint8_t* body, const SimEvent& event, const CallCentre& centre) {
  const bool names_group = event.type != EventType::kAgentUpdate;
  const bool names_agent = event.type != EventType::kGroupUpdate;
  const bool names_full_name = event.type == EventType::kAgentUpdate;
  StoreName(body + wire::kConfigGroupOffset, wire::kNameWidth,
            names_group ? GroupName(centre, event.group) : std::string_view());
  StoreName(body + wire::kConfigAgentOffset, wire::kNameWidth,
            names_agent ? AgentName(centre, event.agent) : std::string_view());
  StoreSigned(body + wire::kConfigStateOffset, event.code);
  StoreName(
      body + wire::kConfigFullNameOffset, wire::kNameWidth,
      names_full_name ? std::string_view(centre.agent(event.agent).full_name) : std::string_view());
  return wire::kConfigUpdateBodySize;
}

}  // namespace

size_t MessageEncoder::Status(std::span<uint8_t> body, std::string_view agent,
                              std::string_view group, int32_t status) {
  StoreName(&body[wire::kStatusAgentOffset], wire::kNameWidth, agent);
  StoreName(&body[wire::kStatusGroupOffset], wire::kNameWidth, group);
  StoreSigned(&body[wire::kStatusCodeOffset], status);
  return wire::kStatusBodySize;
}

size_t MessageEncoder::GroupList(std::span<uint8_t> body, uint32_t count,
                                 std::span<const std::string_view> groups) {
  wire::StoreBigEndian32(&body[wire::kGroupListCountOffset], count);
  size_t offset = wire::kGroupListEntriesOffset;
  for (std::string_view group : groups) {
    StoreName(&body[offset], wire::kNameWidth, group);
    offset += wire::kGroupListEntryWidth;
  }
  return offset;
}

size_t MessageEncoder::AgentList(std::span<uint8_t> body, std::string_view group, uint32_t count,
                                 std::span<const std::string_view> agents) {
  StoreName(&body[wire::kAgentListGroupOffset], wire::kNameWidth, group);
  wire::StoreBigEndian32(&body[wire::kAgentListCountOffset], count);
  size_t offset = wire::kAgentListEntriesOffset;
  for (std::string_view agent : agents) {
    StoreName(&body[offset], wire::kNameWidth, agent);
    offset += wire::kAgentListEntryWidth;
  }
  return offset;
}

size_t MessageEncoder::FullAgentList(std::span<uint8_t> body, uint32_t count,
                                     std::span<const FullAgent> agents) {
  StoreName(&body[wire::kFullAgentListGroupOffset], wire::kNameWidth, {});
  wire::StoreBigEndian32(&body[wire::kFullAgentListCountOffset], count);
  size_t offset = wire::kFullAgentListEntriesOffset;
  for (const auto& [name, full_name] : agents) {
    StoreName(&body[offset + wire::kFullAgentEntryAgentOffset], wire::kNameWidth, name);
    StoreName(&body[offset + wire::kFullAgentEntryFullNameOffset], wire::kNameWidth, full_name);
    offset += wire::kFullAgentListEntryWidth;
  }
  return offset;
}

size_t MessageEncoder::Event(std::span<uint8_t> body, const SimEvent& event,
                             const CallCentre& centre) {
  switch (event.type) {
    case EventType::kStatus:
      return Status(body, AgentName(centre, event.agent), GroupName(centre, event.group),
                    event.code);
    case EventType::kCdr:
      return Cdr(body.data(), event, centre);
    case EventType::kCall:
      return Call(body.data(), event, centre);
    case EventType::kGroupUpdate:
    case EventType::kRelationUpdate:
    case EventType::kAgentUpdate:
      return ConfigUpdate(body.data(), event, centre);
  }
  return 0;
}

}  // namespace callsink::acdsim
