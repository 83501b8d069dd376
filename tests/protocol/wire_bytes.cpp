#include "tests/protocol/wire_bytes.h"

#include <cctype>
#include <stdexcept>

namespace callsink::test {

WireBytes& WireBytes::Be16(uint16_t value) {
  bytes_.push_back(static_cast<uint8_t>(value >> 8));
  bytes_.push_back(static_cast<uint8_t>(value));
  return *this;
}

WireBytes& WireBytes::Be32(uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes_.push_back(static_cast<uint8_t>(value >> shift));
  return *this;
}

WireBytes& WireBytes::Le32(uint32_t value) {
  for (int shift = 0; shift <= 24; shift += 8)
    bytes_.push_back(static_cast<uint8_t>(value >> shift));
  return *this;
}

WireBytes& WireBytes::Text(std::string_view text, size_t width) {
  if (text.size() > width) throw std::invalid_argument("text wider than its field");
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return Zeros(width - text.size());
}

WireBytes& WireBytes::Zeros(size_t count) {
  bytes_.insert(bytes_.end(), count, 0);
  return *this;
}

WireBytes& WireBytes::Hex(std::string_view hex) {
  const std::vector<uint8_t> raw = FromHex(hex);
  bytes_.insert(bytes_.end(), raw.begin(), raw.end());
  return *this;
}

WireBytes& WireBytes::Header(uint16_t msg_class, uint16_t msg_type, uint16_t result,
                             uint32_t request_id, uint32_t length, uint32_t timestamp,
                             uint16_t protocol) {
  return Be16(protocol)
      .Be16(msg_class)
      .Be16(msg_type)
      .Be16(result)
      .Be32(request_id)
      .Be32(length)
      .Be32(timestamp);
}

std::string ToHex(std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0f]);
  }
  return hex;
}

std::vector<uint8_t> FromHex(std::string_view hex) {
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : hex) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (digit < 0 || digit > 15) throw std::invalid_argument("not a hex digit");
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return bytes;
}

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& bytes, size_t length) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
}

}  // namespace callsink::test
