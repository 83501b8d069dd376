#include "worker/journal_format.h"

#include <zlib.h>

#include <cstring>

namespace callsink::journal {

uint32_t Crc32(std::span<const uint8_t> bytes) {
  return static_cast<uint32_t>(
      crc32_z(crc32_z(0, nullptr, 0), bytes.data(), static_cast<z_size_t>(bytes.size())));
}

void EncodeSegmentHeader(uint8_t* out, const SegmentHeader& header) {
  std::memcpy(out, kSegmentMagic, sizeof kSegmentMagic);
  StoreLittleEndian64(out + 8, header.identity);
  StoreLittleEndian64(out + 16, header.first_sequence);
  wire::StoreLittleEndian32(out + 24, Crc32({out, 24}));
  wire::StoreLittleEndian32(out + 28, 0);
}

bool DecodeSegmentHeader(const uint8_t* in, SegmentHeader* header) {
  if (std::memcmp(in, kSegmentMagic, sizeof kSegmentMagic) != 0) return false;
  if (wire::LoadLittleEndian32(in + 24) != Crc32({in, 24})) return false;
  header->identity = LoadLittleEndian64(in + 8);
  header->first_sequence = LoadLittleEndian64(in + 16);
  return true;
}

void EncodeRecord(uint8_t* out, const RecordHeader& header, std::span<const uint8_t> payload) {
  wire::StoreLittleEndian32(out + 4, header.length);
  StoreLittleEndian64(out + 8, header.sequence);
  StoreLittleEndian64(out + 16, static_cast<uint64_t>(header.received_us));
  out[24] = static_cast<uint8_t>(static_cast<uint16_t>(header.kind));
  out[25] = static_cast<uint8_t>(static_cast<uint16_t>(header.kind) >> 8);
  out[26] = 0;
  out[27] = 0;
  if (!payload.empty()) std::memcpy(out + kRecordHeaderSize, payload.data(), payload.size());
  wire::StoreLittleEndian32(out, Crc32({out + 4, kRecordHeaderSize - 4 + payload.size()}));
}

bool DecodeRecordHeader(const uint8_t* in, RecordHeader* header) {
  header->length = wire::LoadLittleEndian32(in + 4);
  header->sequence = LoadLittleEndian64(in + 8);
  header->received_us = static_cast<int64_t>(LoadLittleEndian64(in + 16));
  header->kind = static_cast<EntryKind>(in[24] | (in[25] << 8));
  return header->length <= kMaxPayload;
}

bool IsKnownKind(const uint8_t* in) {
  const auto kind = static_cast<EntryKind>(in[24] | (in[25] << 8));
  return (kind == EntryKind::kMessage || kind == EntryKind::kPassStart) && in[26] == 0 &&
         in[27] == 0;
}

bool RecordIsWhole(const uint8_t* record, size_t length) {
  return length >= kRecordHeaderSize &&
         wire::LoadLittleEndian32(record) == Crc32({record + 4, length - 4});
}

void EncodeState(uint8_t* out, const State& state) {
  StoreLittleEndian64(out, state.identity);
  StoreLittleEndian64(out + 8, state.applied);
  wire::StoreLittleEndian32(out + 16, Crc32({out, 16}));
  wire::StoreLittleEndian32(out + 20, 0);
}

bool DecodeState(const uint8_t* in, State* state) {
  if (wire::LoadLittleEndian32(in + 16) != Crc32({in, 16})) return false;
  state->identity = LoadLittleEndian64(in);
  state->applied = LoadLittleEndian64(in + 8);
  return true;
}

}  // namespace callsink::journal
