#include "protocol/name_table.h"

#include <algorithm>

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

namespace callsink {

NameTable::NameTable(const uint8_t* entries, size_t available, uint32_t declared_count,
                     size_t entry_width)
    : entries_(entries),
      // Divide rather than multiply: a count near 2^32 times the width must
      // not wrap into a small number.
      size_(std::min<size_t>(declared_count, available / entry_width)),
      declared_count_(declared_count),
      entry_width_(entry_width) {}

std::string_view NameTable::Name(size_t index, size_t column) const {
  return wire::LoadText(entries_ + index * entry_width_ + column * wire::kNameWidth,
                        wire::kNameWidth);
}

}  // namespace callsink
