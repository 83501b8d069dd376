#include "worker/segment_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace callsink {

SegmentReader::SegmentReader() : buffer_(kBufferBytes) {}

bool SegmentReader::Open(const std::string& path) {
  file_ = FileDescriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  buffered_ = 0;
  offset_ = 0;
  if (!file_.valid()) return false;
  if (!Fill(journal::kSegmentHeaderSize) ||
      !journal::DecodeSegmentHeader(buffer_.data(), &header_)) {
    file_.Reset();
    return false;
  }
  offset_ = journal::kSegmentHeaderSize;
  return true;
}

SegmentReader::Result SegmentReader::Next(journal::RecordHeader* header,
                                          std::span<const uint8_t>* payload) {
  if (!Fill(journal::kRecordHeaderSize)) {
    // Fill read from offset(): what lies there is either nothing or a torn
    // tail.
    return buffered_ == 0 ? Result::kEnd : Result::kBroken;
  }
  const uint8_t* at = buffer_.data() + (offset_ - buffer_offset_);
  if (!journal::DecodeRecordHeader(at, header)) return Result::kBroken;
  const size_t size = journal::kRecordHeaderSize + header->length;
  if (!Fill(size)) return Result::kBroken;
  at = buffer_.data() + (offset_ - buffer_offset_);
  if (!journal::RecordIsWhole(at, size)) return Result::kBroken;
  *payload = {at + journal::kRecordHeaderSize, header->length};
  offset_ += size;
  return Result::kRecord;
}

bool SegmentReader::Resync(uint64_t after, uint64_t up_to, uint64_t* sequence) {
  const uint64_t damaged = offset_;
  for (offset_ = damaged + 1;; ++offset_) {
    if (!Fill(journal::kRecordHeaderSize)) break;
    const uint8_t* at = buffer_.data() + (offset_ - buffer_offset_);
    journal::RecordHeader header{};
    // Every record lost in between took at least a record header of the
    // bytes passed over, which bounds how far the numbering can have moved.
    const uint64_t most_lost = (offset_ - damaged) / journal::kRecordHeaderSize + 1;
    if (!journal::DecodeRecordHeader(at, &header) || !journal::IsKnownKind(at) ||
        header.sequence <= after || header.sequence > up_to ||
        header.sequence - after > most_lost) {
      continue;
    }
    const size_t size = journal::kRecordHeaderSize + header.length;
    if (!Fill(size)) continue;
    at = buffer_.data() + (offset_ - buffer_offset_);
    if (journal::RecordIsWhole(at, size)) {
      *sequence = header.sequence;
      return true;
    }
  }
  offset_ = damaged;
  buffered_ = 0;
  return false;
}

uint64_t SegmentReader::Size() const {
  struct stat status {};
  return fstat(file_.get(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

bool SegmentReader::Fill(size_t length) {
  if (offset_ >= buffer_offset_ && offset_ + length <= buffer_offset_ + buffered_) return true;
  buffer_offset_ = offset_;
  buffered_ = 0;
  while (buffered_ < buffer_.size()) {
    const ssize_t got = pread(file_.get(), buffer_.data() + buffered_, buffer_.size() - buffered_,
                              static_cast<off_t>(buffer_offset_ + buffered_));
    if (got <= 0) break;
    buffered_ += static_cast<size_t>(got);
  }
  return buffered_ >= length;
}

}  // namespace callsink
