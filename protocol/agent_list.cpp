#include "protocol/agent_list.h"

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

namespace callsink {

std::optional<AgentList> AgentList::Decode(const uint8_t* body, size_t length) {
  if (length < wire::kAgentListEntriesOffset) return std::nullopt;
  AgentList decoded;
  decoded.group = wire::LoadText(body + wire::kAgentListGroupOffset, wire::kNameWidth);
  decoded.agents = NameTable(
      body + wire::kAgentListEntriesOffset, length - wire::kAgentListEntriesOffset,
      wire::LoadBigEndian32(body + wire::kAgentListCountOffset), wire::kAgentListEntryWidth);
  return decoded;
}

}  // namespace callsink
