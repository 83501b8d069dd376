#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/name_table.h"

namespace callsink {

// The body of a GetGroups response: `count` group names.
//
// A view into the received bytes, valid while those stay unchanged.
struct GroupList {
  // The group names that arrived whole, in order (column 0).
  NameTable groups;

  // Decodes `length` received body bytes. Nullopt when even the count is
  // missing. A count that reaches past the end yields the entries that lie
  // wholly inside: each entry stands by itself, so those that arrived are
  // still right; groups.complete() tells whether any were cut off.
  static std::optional<GroupList> Decode(const uint8_t* body, size_t length);
};

}  // namespace callsink
