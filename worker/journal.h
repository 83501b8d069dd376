#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"
#include "worker/journal_files.h"
#include "worker/journal_format.h"

namespace callsink {

class ActivityLog;
class WorkerStats;

// One ACD server's durable journal (format in journal_format.h): the
// messages its reader received, in order and with their receive times, kept
// on disk until the applier has committed them to the database, then
// deleted a segment at a time. Records are written in groups: Add collects,
// Commit writes and syncs the group and only then shows it to the applier,
// so everything the applier reads survives a crash or a power loss.
//
// Two threads share it. The writer (the reader half of the worker) calls
// Open first, then Add, Commit and Prune; the applier calls MarkApplied and
// reads through a JournalCursor. The figures (durable, applied, bytes) and
// WaitBeyond are for any thread. Memory does not grow with the backlog: the
// pending group is bounded by the writer, and segments are files.
class Journal {
 public:
  struct Options {
    std::string folder;      // the server's own folder
    uint64_t cap_bytes;      // the segments together never hold more
    uint64_t segment_bytes;  // a segment is closed once it holds this many
    // The calls on the files; not owned, outlives the journal.
    JournalFiles* files = &JournalFiles::System();
  };
  enum class AddResult { kAdded, kFull };

  // The folder of `server`'s journal below `spool`: the name with every byte
  // but letters, digits, '-', '_' and an inner '.' written as %XX, so that no
  // two servers share a folder and none lies outside `spool`.
  static std::string FolderFor(const std::string& spool, const std::string& server);
  // The segment size for a cap: an eighth of it, within 64 KiB and 16 MiB.
  static uint64_t SegmentBytesFor(uint64_t cap_bytes);

  // `log` is the worker's, not owned, and outlives the journal.
  Journal(Options options, ActivityLog* log);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens the journal in its folder (made with its parents, mode 0700), or
  // starts a new one with a new identity when the folder holds no segment.
  // Damage with whole records after it stays for the cursor to pass over;
  // damage with nothing whole after it (a record cut short by a crash) is
  // cut off at the last whole record with a log line. False (logged) when
  // the folder or a file cannot be used; Open may then be tried again.
  bool Open();

  // Writer. Appends a record to the pending group; kFull when the journal
  // would pass its cap (nothing appended).
  AddResult Add(journal::EntryKind kind, int64_t received_us, std::span<const uint8_t> payload);
  // Records in the pending group, and the receive time of its oldest.
  size_t pending() const { return pending_count_; }
  int64_t pending_since_us() const { return pending_since_us_; }
  // Writes the pending group and syncs it to disk; then the applier sees it.
  // The newest segment is closed once it holds segment_bytes, or 64 KiB
  // while the applier already reads it.
  // False (logged) on an I/O error: the group is dropped and the files stay
  // as they were.
  bool Commit();
  // Deletes the segments whose every record is applied. After a write that
  // failed (a full disk), once every record is applied, the newest segment
  // gives its space back too: it is cut to its header and a fresh one takes
  // the records that follow.
  void Prune();

  // Any thread.
  uint64_t identity() const { return identity_; }
  // Sequence number of the last record on disk (0: none yet).
  uint64_t durable() const { return durable_.load(std::memory_order_acquire); }
  // Sequence number of the last record known to be applied.
  uint64_t applied() const { return applied_.load(std::memory_order_acquire); }
  // Bytes the segments take on disk.
  uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
  uint64_t cap_bytes() const { return options_.cap_bytes; }
  // Waits up to `timeout_ms` until durable() > `sequence`; true if so.
  bool WaitBeyond(uint64_t sequence, int timeout_ms) const;
  // The first sequence numbers of the segments on disk, ascending.
  std::vector<uint64_t> ListSegments() const;
  std::string SegmentPath(uint64_t first_sequence) const;
  ActivityLog* log() const { return log_; }
  // Sets the backlog figures in `stats`: records durable but not applied,
  // and the bytes on disk while any are (what the cap limits; at most a
  // segment of applied records more).
  void ReportBacklog(WorkerStats* stats) const;

  // The cursor. Counts records lost to damage on disk.
  void CountDamaged(uint64_t records) const {
    damaged_.fetch_add(records, std::memory_order_relaxed);
  }

  // Applier. Notes that every record up to `sequence` is in the database,
  // in memory and in the state file (not synced: the database holds the
  // position that counts, this one only backs it up).
  void MarkApplied(uint64_t sequence);

 private:
  struct Segment {
    uint64_t first_sequence;
    uint64_t bytes;
  };

  // Reads the headers, drops segments that do not belong, cuts the newest
  // segment's torn tail; false when a file cannot be read.
  bool Recover(std::vector<uint64_t> firsts);
  // Scans the newest segment; its valid length and last sequence.
  bool ScanTail(const std::string& path, uint64_t first_sequence, uint64_t* valid_bytes,
                uint64_t* last_sequence);
  bool StartSegment(uint64_t first_sequence);
  // Cuts the newest segment, all of it applied, to its header and starts a
  // fresh one; false (logged) when the disk does not allow it.
  bool Reclaim();
  bool WriteState(uint64_t applied);
  bool OpenState();
  void Publish(uint64_t sequence);
  bool Fail(const char* what, const std::string& path);

  const Options options_;
  JournalFiles& files_;
  ActivityLog* const log_;
  uint64_t identity_ = 0;

  // Writer's own.
  std::deque<Segment> segments_;
  FileDescriptor tail_;  // the newest segment, open for writing
  uint64_t next_sequence_ = 1;
  std::vector<uint8_t> pending_;
  size_t pending_count_ = 0;
  int64_t pending_since_us_ = 0;
  bool write_failed_ = false;

  // Applier's own.
  FileDescriptor state_;

  std::atomic<uint64_t> durable_{0};
  std::atomic<uint64_t> applied_{0};
  std::atomic<uint64_t> bytes_{0};
  mutable std::atomic<uint64_t> damaged_{0};
  mutable std::mutex wake_mutex_;
  mutable std::condition_variable wake_;
};

}  // namespace callsink
