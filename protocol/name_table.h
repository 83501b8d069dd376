#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace callsink {

// The entries of a received list body: `declared_count` consecutive entries
// of `entry_width` bytes, each a row of 16-byte name fields. Only entries
// that lie wholly inside the received bytes are visible; entries that the
// count announces beyond the end are not read.
//
// A view: it points into the receive buffer and is valid while those bytes
// stay unchanged.
class NameTable {
 public:
  NameTable() = default;
  // `entries` and `available` describe the received bytes from the first
  // entry on.
  NameTable(const uint8_t* entries, size_t available, uint32_t declared_count, size_t entry_width);

  // The count the sender wrote.
  uint32_t declared_count() const { return declared_count_; }
  // Entries that arrived whole; at most declared_count().
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Whether every announced entry arrived.
  bool complete() const { return size_ == declared_count_; }

  // The name in field `column` of entry `index`, up to its NUL or cut at the
  // field width. Requires index < size() and a column inside the entry.
  std::string_view Name(size_t index, size_t column = 0) const;

 private:
  const uint8_t* entries_ = nullptr;
  size_t size_ = 0;
  uint32_t declared_count_ = 0;
  size_t entry_width_ = 0;
};

}  // namespace callsink
