#include "protocol/group_list.h"

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

namespace callsink {

std::optional<GroupList> GroupList::Decode(const uint8_t* body, size_t length) {
  if (length < wire::kGroupListEntriesOffset) return std::nullopt;
  GroupList decoded;
  decoded.groups = NameTable(
      body + wire::kGroupListEntriesOffset, length - wire::kGroupListEntriesOffset,
      wire::LoadBigEndian32(body + wire::kGroupListCountOffset), wire::kGroupListEntryWidth);
  return decoded;
}

}  // namespace callsink
