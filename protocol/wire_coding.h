#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Fixed-width fields to and from bytes, by shifting: the result never depends
// on the host's byte order or on the alignment of the buffer. Every function
// touches exactly the bytes its width names; the caller guarantees they lie
// inside the buffer.
namespace callsink::wire {

inline void StoreBigEndian16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
}

inline void StoreBigEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

inline void StoreLittleEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

inline uint16_t LoadBigEndian16(const uint8_t* in) {
  return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

inline uint32_t LoadBigEndian32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) |
         uint32_t{in[3]};
}

inline uint32_t LoadLittleEndian32(const uint8_t* in) {
  return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
         (uint32_t{in[3]} << 24);
}

// Codes and durations travel as 32-bit two's complement.
inline int32_t LoadBigEndianSigned32(const uint8_t* in) {
  return static_cast<int32_t>(LoadBigEndian32(in));
}

// The text of a field of `width` bytes: up to its first NUL, or all `width`
// bytes when it holds none. The view points into the field.
inline std::string_view LoadText(const uint8_t* field, size_t width) {
  const void* nul = std::memchr(field, 0, width);
  const size_t length =
      nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : width;
  return {reinterpret_cast<const char*>(field), length};
}

// Writes `text` into a field of `width` bytes: the text up to its first NUL,
// cut to width - 1 characters, then zeros up to the width, so the field
// always ends in a NUL.
inline void StoreText(uint8_t* field, size_t width, std::string_view text) {
  size_t length = text.find('\0');
  if (length == std::string_view::npos) length = text.size();
  if (length > width - 1) length = width - 1;
  if (length > 0) std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, width - length);
}

}  // namespace callsink::wire
