#include "protocol/full_agent_list.h"

#include "protocol/wire_coding.h"

namespace callsink {

std::optional<FullAgentList> FullAgentList::Decode(const uint8_t* body, size_t length) {
  if (length < wire::kFullAgentListEntriesOffset) return std::nullopt;
  FullAgentList decoded;
  decoded.group = wire::LoadText(body + wire::kFullAgentListGroupOffset, wire::kNameWidth);
  decoded.entries = NameTable(body + wire::kFullAgentListEntriesOffset,
                              length - wire::kFullAgentListEntriesOffset,
                              wire::LoadBigEndian32(body + wire::kFullAgentListCountOffset),
                              wire::kFullAgentListEntryWidth);
  return decoded;
}

}  // namespace callsink
