#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "worker/journal_format.h"
#include "worker/segment_reader.h"

namespace callsink {

class Journal;

// One record of the journal as the applier reads it.
struct JournalEntry {
  uint64_t sequence = 0;
  journal::EntryKind kind = journal::EntryKind::kMessage;
  int64_t received_us = 0;
  std::span<const uint8_t> payload;  // valid until the cursor's next call
};

// The applier's way through a journal: reads the durable records in order,
// from one segment to the next, never a record the writer has not finished.
// Damage on disk costs only the records it covers: after a record that does
// not read back whole the cursor goes on at the next whole record, and
// records that are in no segment are passed over; either is logged and
// counted when records not yet applied are lost. Used by the applier's
// thread; the journal outlives it.
class JournalCursor {
 public:
  explicit JournalCursor(const Journal* journal) : journal_(journal) {}
  JournalCursor(const JournalCursor&) = delete;
  JournalCursor& operator=(const JournalCursor&) = delete;

  // The next Next gives the first record after `sequence` still on disk.
  void Seek(uint64_t sequence);
  // The next durable record; false when there is none yet.
  bool Next(JournalEntry* entry);

 private:
  // Opens the segment that holds next_ (or the oldest one).
  bool OpenSegmentHolding();
  // Opens the segment after the current one; false when there is none.
  // `damage` says what lost the records before it, if any are.
  bool OpenSegmentAfter(uint64_t first_sequence, const std::string& damage);
  // After damage at `offset` of the open segment: goes on at the next whole
  // record up to `durable`; false when the segment holds none.
  bool PassDamage(uint64_t offset, uint64_t durable);
  // "Journal segment <file>: <n> bytes damaged at byte <offset>".
  std::string Damage(uint64_t offset, uint64_t bytes) const;
  // Logs and counts the records from next_ to `last` as lost to `damage`
  // (none when last < next_), and moves on after them.
  void Lose(uint64_t last, const std::string& damage);

  const Journal* const journal_;
  SegmentReader reader_;
  uint64_t next_ = 1;
  // The sequence number of the last whole record read in the open segment.
  uint64_t last_read_ = 0;
  // The durable sequence seen before the read-ahead was filled: records up
  // to it are whole in the buffer.
  uint64_t buffer_durable_ = 0;
};

}  // namespace callsink
