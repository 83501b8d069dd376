#include "worker/journal_cursor.h"

#include <algorithm>

#include "platform/activity_log.h"
#include "worker/journal.h"

namespace callsink {

void JournalCursor::Seek(uint64_t sequence) {
  next_ = sequence + 1;
  reader_.Close();
}

bool JournalCursor::Next(JournalEntry* entry) {
  for (;;) {
    const uint64_t durable = journal_->durable();
    if (next_ > durable) return false;
    if (!reader_.IsOpen() && !OpenSegmentHolding()) return false;
    if (next_ > buffer_durable_) {
      reader_.DropBuffer();
      buffer_durable_ = durable;
    }
    journal::RecordHeader header{};
    std::span<const uint8_t> payload;
    const SegmentReader::Result result = reader_.Next(&header, &payload);
    if (result == SegmentReader::Result::kRecord) {
      // Records before next_ are passed over after a Seek.
      if (header.sequence < next_) continue;
      *entry = {header.sequence, header.kind, header.received_us, payload};
      next_ = header.sequence + 1;
      return true;
    }
    if (result == SegmentReader::Result::kBroken && reported_offset_ != reader_.offset()) {
      reported_offset_ = reader_.offset();
      journal_->log()->Write(
          "Journal segment %s: record %llu does not read back whole, rest of the segment skipped",
          journal_->SegmentPath(reader_.header().first_sequence).c_str(),
          static_cast<unsigned long long>(next_));
    }
    // The record wanted is durable, so it lies in a later segment.
    if (!OpenSegmentAfter(reader_.header().first_sequence)) return false;
  }
}

bool JournalCursor::OpenSegmentHolding() {
  const std::vector<uint64_t> firsts = journal_->ListSegments();
  if (firsts.empty()) return false;
  auto holding = std::upper_bound(firsts.begin(), firsts.end(), next_);
  if (holding != firsts.begin()) --holding;
  if (!reader_.Open(journal_->SegmentPath(*holding))) return false;
  buffer_durable_ = 0;
  return true;
}

bool JournalCursor::OpenSegmentAfter(uint64_t first_sequence) {
  const std::vector<uint64_t> firsts = journal_->ListSegments();
  const auto after = std::upper_bound(firsts.begin(), firsts.end(), first_sequence);
  if (after == firsts.end() || !reader_.Open(journal_->SegmentPath(*after))) return false;
  next_ = std::max(next_, *after);
  buffer_durable_ = 0;
  return true;
}

}  // namespace callsink
