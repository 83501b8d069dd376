#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"
#include "worker/journal_format.h"

namespace callsink {

// Reads the records of one journal segment front to back, through a
// read-ahead buffer of kBufferBytes (the only memory it takes, whatever the
// segment's size). Used by one thread; the file may grow meanwhile.
class SegmentReader {
 public:
  static constexpr size_t kBufferBytes = 256 * 1024;
  enum class Result {
    kRecord,  // a whole record with a matching checksum
    kEnd,     // no byte after the last record read
    kBroken,  // a record cut short, or its checksum does not match
  };

  SegmentReader();
  SegmentReader(const SegmentReader&) = delete;
  SegmentReader& operator=(const SegmentReader&) = delete;

  // Opens `path` and reads its header; false when the file cannot be read
  // or its header is not whole.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_.valid(); }
  void Close() {
    file_.Reset();
    buffered_ = 0;
  }
  const journal::SegmentHeader& header() const { return header_; }
  // File offset of the next record.
  uint64_t offset() const { return offset_; }

  // Reads the record at offset(); on kRecord, `payload` points into the
  // buffer until the next call and offset() moves past the record.
  Result Next(journal::RecordHeader* header, std::span<const uint8_t>* payload);
  // Forgets the read-ahead, so that the next record is read from the file
  // as it is now (the writer may have completed it since).
  void DropBuffer() { buffered_ = 0; }
  // After kBroken: looks past the damaged bytes at offset() for the next
  // whole record whose sequence number lies in (`after`, `up_to`] and could
  // follow `after` in the bytes between. True with offset() at that record
  // and its number in `sequence`; false, offset() unchanged, when the file
  // holds none.
  bool Resync(uint64_t after, uint64_t up_to, uint64_t* sequence);
  // Moves to `offset`, the start of a record read before.
  void Seek(uint64_t offset) { offset_ = offset; }
  // The file's size now.
  uint64_t Size() const;

 private:
  // Makes `length` bytes from offset() available; false when the file ends
  // before.
  bool Fill(size_t length);

  FileDescriptor file_;
  journal::SegmentHeader header_{};
  uint64_t offset_ = 0;
  std::vector<uint8_t> buffer_;
  uint64_t buffer_offset_ = 0;  // file offset of buffer_[0]
  size_t buffered_ = 0;         // valid bytes in buffer_
};

}  // namespace callsink
