#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/wire_coding.h"
#include "protocol/wire_format.h"

// The journal's files, written down once. Every number is little-endian and
// coded by shifting; every checksum is zlib's CRC-32.
//
// A journal is a folder of segment files, each named after the sequence
// number of its first record ("00000000000000000001.seg", 20 digits), plus
// the state file "applied". Records are appended to the newest segment;
// a segment whose records are all applied is deleted whole.
//
// Segment header (kSegmentHeaderSize bytes):
//    0  8  kSegmentMagic
//    8  8  the journal's identity, drawn at random when the journal is made
//   16  8  sequence number of the segment's first record
//   24  4  CRC-32 of bytes 0 to 23
//   28  4  zero
//
// Record (kRecordHeaderSize bytes, then the payload):
//    0  4  CRC-32 of bytes 4 to the end of the payload
//    4  4  payload length, at most kMaxPayload
//    8  8  sequence number: one more than the record before it
//   16  8  receive time, microseconds since 1970 on the collector's clock
//   24  2  kind (EntryKind)
//   26  2  zero
//   28     payload: a message as received (header and body), or nothing
//
// State file "applied" (kStateSize bytes), rewritten in place:
//    0  8  the journal's identity
//    8  8  sequence number of the last record known to be applied
//   16  4  CRC-32 of bytes 0 to 15
//   20  4  zero
namespace callsink::journal {

enum class EntryKind : uint16_t {
  kMessage = 1,    // one message of the ACD server
  kPassStart = 2,  // a new ACD pass begins: its directory starts empty
};

inline constexpr uint8_t kSegmentMagic[8] = {'C', 'S', 'J', 'R', 'N', 'L', '0', '1'};
inline constexpr size_t kSegmentHeaderSize = 32;
inline constexpr size_t kRecordHeaderSize = 28;
inline constexpr size_t kStateSize = 24;
inline constexpr size_t kMaxPayload = wire::kMaxMessageSize;
inline constexpr const char* kSegmentSuffix = ".seg";
inline constexpr const char* kStateFile = "applied";

inline void StoreLittleEndian64(uint8_t* out, uint64_t value) {
  wire::StoreLittleEndian32(out, static_cast<uint32_t>(value));
  wire::StoreLittleEndian32(out + 4, static_cast<uint32_t>(value >> 32));
}

inline uint64_t LoadLittleEndian64(const uint8_t* in) {
  return uint64_t{wire::LoadLittleEndian32(in)} |
         (uint64_t{wire::LoadLittleEndian32(in + 4)} << 32);
}

uint32_t Crc32(std::span<const uint8_t> bytes);

struct SegmentHeader {
  uint64_t identity;
  uint64_t first_sequence;
};

// Writes kSegmentHeaderSize bytes.
void EncodeSegmentHeader(uint8_t* out, const SegmentHeader& header);
// False when the magic or the checksum does not match.
bool DecodeSegmentHeader(const uint8_t* in, SegmentHeader* header);

struct RecordHeader {
  uint32_t length;
  uint64_t sequence;
  int64_t received_us;
  EntryKind kind;
};

// Writes the record, kRecordHeaderSize + payload.size() bytes.
void EncodeRecord(uint8_t* out, const RecordHeader& header, std::span<const uint8_t> payload);
// Reads the fixed part; the checksum is not tested. False when the length
// exceeds kMaxPayload, so the caller never reads past a record's bound.
bool DecodeRecordHeader(const uint8_t* in, RecordHeader* header);
// True when the record header at `in` names a kind this journal writes and
// its reserved bytes are zero: a cheap first test of a place that may start
// a record.
bool IsKnownKind(const uint8_t* in);
// True when the checksum of the whole record (`length` bytes from `record`)
// matches.
bool RecordIsWhole(const uint8_t* record, size_t length);

struct State {
  uint64_t identity;
  uint64_t applied;
};

// Writes kStateSize bytes.
void EncodeState(uint8_t* out, const State& state);
// False when the checksum does not match.
bool DecodeState(const uint8_t* in, State* state);

}  // namespace callsink::journal
