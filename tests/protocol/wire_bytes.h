#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace callsink::test {

// Builds expected wire bytes field by field, written from the record tables
// rather than from the production constants, so a wrong offset there shows.
class WireBytes {
 public:
  WireBytes& Be16(uint16_t value);
  WireBytes& Be32(uint32_t value);
  WireBytes& Le32(uint32_t value);
  // `text` (no NUL added) followed by zeros up to `width`; `text` may fill it.
  WireBytes& Text(std::string_view text, size_t width);
  WireBytes& Name(std::string_view text) { return Text(text, 16); }
  WireBytes& Zeros(size_t count);
  WireBytes& Hex(std::string_view hex);
  // A header: protocol 6 unless given.
  WireBytes& Header(uint16_t msg_class, uint16_t msg_type, uint16_t result, uint32_t request_id,
                    uint32_t length, uint32_t timestamp, uint16_t protocol = 6);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

// Lower-case hex without separators.
std::string ToHex(std::span<const uint8_t> bytes);
std::vector<uint8_t> FromHex(std::string_view hex);

// A fresh heap copy of the first `length` bytes: a decoder that reads past
// `length` reads past the allocation, which AddressSanitizer reports.
std::vector<uint8_t> Prefix(const std::vector<uint8_t>& bytes, size_t length);

}  // namespace callsink::test
