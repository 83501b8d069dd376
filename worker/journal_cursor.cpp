#include "worker/journal_cursor.h"

#include <algorithm>

#include "platform/activity_log.h"
#include "worker/journal.h"

namespace callsink {
namespace {

unsigned long long Number(uint64_t value) { return static_cast<unsigned long long>(value); }

}  // namespace

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
    const uint64_t offset = reader_.offset();
    const SegmentReader::Result result = reader_.Next(&header, &payload);
    if (result == SegmentReader::Result::kRecord && header.sequence > last_read_) {
      last_read_ = header.sequence;
      // Records before next_ are passed over after a Seek.
      if (header.sequence < next_) continue;
      *entry = {header.sequence, header.kind, header.received_us, payload};
      next_ = header.sequence + 1;
      return true;
    }
    const bool damaged = result != SegmentReader::Result::kEnd;
    if (damaged) {
      // Bytes read ahead before the latest records were durable are read
      // again before they count as damage.
      if (buffer_durable_ < durable) {
        reader_.Seek(offset);
        buffer_durable_ = 0;
        continue;
      }
      if (PassDamage(offset, durable)) continue;
    }
    // The record wanted is durable, so it lies in a later segment; records
    // before that one's first are lost to the damage, or with a segment
    // that was removed as not whole.
    const std::string damage =
        damaged ? Damage(offset, reader_.Size() - offset)
                : "Journal segments after " +
                      journal_->SegmentPath(reader_.header().first_sequence) + " missing";
    if (OpenSegmentAfter(reader_.header().first_sequence, damage)) continue;
    // None yet: the segment may have been cut back meanwhile (its records
    // all applied), so the next try reads it again from its start.
    if (!damaged) reader_.Close();
    return false;
  }
}

bool JournalCursor::PassDamage(uint64_t offset, uint64_t durable) {
  reader_.Seek(offset);
  uint64_t found = 0;
  if (!reader_.Resync(last_read_, durable, &found)) return false;
  Lose(found - 1, Damage(offset, reader_.offset() - offset));
  last_read_ = found - 1;
  return true;
}

std::string JournalCursor::Damage(uint64_t offset, uint64_t bytes) const {
  return "Journal segment " + journal_->SegmentPath(reader_.header().first_sequence) + ": " +
         std::to_string(bytes) + " bytes damaged at byte " + std::to_string(offset);
}

void JournalCursor::Lose(uint64_t last, const std::string& damage) {
  if (last < next_) return;
  journal_->log()->Write("%s, records %llu to %llu lost, going on after them", damage.c_str(),
                         Number(next_), Number(last));
  journal_->CountDamaged(last - next_ + 1);
  next_ = last + 1;
}

bool JournalCursor::OpenSegmentHolding() {
  const std::vector<uint64_t> firsts = journal_->ListSegments();
  if (firsts.empty()) return false;
  auto holding = std::upper_bound(firsts.begin(), firsts.end(), next_);
  if (holding != firsts.begin()) --holding;
  if (!reader_.Open(journal_->SegmentPath(*holding))) return false;
  buffer_durable_ = 0;
  last_read_ = reader_.header().first_sequence - 1;
  return true;
}

bool JournalCursor::OpenSegmentAfter(uint64_t first_sequence, const std::string& damage) {
  const std::vector<uint64_t> firsts = journal_->ListSegments();
  const auto after = std::upper_bound(firsts.begin(), firsts.end(), first_sequence);
  if (after == firsts.end() || !reader_.Open(journal_->SegmentPath(*after))) return false;
  Lose(*after - 1, damage);
  buffer_durable_ = 0;
  last_read_ = *after - 1;
  return true;
}

}  // namespace callsink
