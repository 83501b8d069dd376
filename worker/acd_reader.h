#pragma once

#include <array>
#include <cstdint>

#include "protocol/acd_header.h"
#include "protocol/wire_format.h"
#include "worker/worker_parts.h"

namespace callsink {

class AcdConnection;

// The reading half of a worker: owns the link to the ACD server, whatever
// the database does. Each pass sets the ACD letter of the state to "N",
// connects (retried every 10 s), sets it to "Y", journals the start of the
// pass (the applier clears the server's directory there), sends the six start
// requests and then reads one message at a time: each goes into the journal
// with its receive time, and the follow-up requests a directory answer
// calls for go out at once. The journal is committed in groups (their size
// and age in WorkerOptions). When the link fails the pass ends and the next one starts
// 10 s later.
//
// When the journal is full (its cap) or cannot be written, the reader says
// so once, drops the ACD link and keeps it down until the applier has
// applied everything journaled: then a new pass asks for the directory anew.
//
// Runs on the worker's thread; the journal, the state and the stats are
// shared with the applier, everything else is the reader's.
class AcdReader {
 public:
  explicit AcdReader(const WorkerParts& parts);
  AcdReader(const AcdReader&) = delete;
  AcdReader& operator=(const AcdReader&) = delete;

  // Runs passes until the close event is set; what was received is
  // committed to the journal before it returns.
  void Run();

 private:
  using ReceiveBuffer = std::array<uint8_t, wire::kMaxMessageSize>;

  // One pass; false when the close event ended it.
  bool RunPass();
  void Dispatch(AcdConnection& connection);
  // Reads one whole message into the buffer; false ends the pass.
  bool ReadMessage(AcdConnection& connection, AcdHeader* header, size_t* body_length);
  // Adds a record and commits when the group is complete; false when the
  // journal takes no more.
  bool Keep(int64_t received_us, const uint8_t* bytes, size_t length, bool pass_start);
  // Commits the pending group; false when it could not be written.
  bool CommitGroup();
  // The journal takes no more, being `full` or failing to write: said in
  // the log unless it was since the last group committed.
  void Stop(bool full);
  // Waits, with the ACD link down, until the applier has applied all that
  // is journaled; false when the close event ended the wait.
  bool WaitForTheApplier();

  const WorkerParts parts_;
  ReceiveBuffer buffer_{};
  bool journal_stopped_ = false;
  bool reported_ = false;
};

}  // namespace callsink
