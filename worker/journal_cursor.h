#pragma once

#include <cstdint>
#include <span>

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
// A record that does not read back whole is skipped with its segment's rest
// and a log line. Used by the applier's thread; the journal outlives it.
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
  bool OpenSegmentAfter(uint64_t first_sequence);

  const Journal* const journal_;
  SegmentReader reader_;
  uint64_t next_ = 1;
  // The durable sequence seen before the read-ahead was filled: records up
  // to it are whole in the buffer.
  uint64_t buffer_durable_ = 0;
  uint64_t reported_offset_ = 0;
};

}  // namespace callsink
