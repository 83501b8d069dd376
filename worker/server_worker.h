#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "config/server_config.h"
#include "platform/stop_latch.h"
#include "worker/worker_options.h"

namespace callsink {

class ActivityLog;
class JournalApplier;
class ManualResetEvent;
class WorkerStats;

// The body of one worker thread: serves one configured ACD server for the
// life of the collector, as two halves joined by a durable journal below
// the spool folder. The reader (AcdReader, on this thread) keeps the ACD
// link up whatever the database does and journals what it receives; the
// applier (JournalApplier, on a thread of its own) applies the journal to
// the database. The connection state ("N-N", "N-Y", "Y-N", "Y-Y") shows
// each link as its half sees it. It ends when the close event is set.
//
// Owns its configuration, log, journal and state; the two halves share the
// journal, the log, the state and the figures. Only the close event and the
// figures (read by the metrics endpoint) are shared with other threads.
class ServerWorker {
 public:
  struct JournalSettings {
    std::string spool;   // the folder that holds one journal folder per server
    uint64_t cap_bytes;  // each server's journal at most
  };

  // `registry_file` is the configuration store where the state goes (empty:
  // nowhere); `stats`, which must outlive the worker, receives its figures.
  ServerWorker(ServerConfig config, const ManualResetEvent* close_event, std::string registry_file,
               JournalSettings journal, WorkerStats* stats,
               WorkerOptions options = WorkerOptions::Defaults());
  ServerWorker(const ServerWorker&) = delete;
  ServerWorker& operator=(const ServerWorker&) = delete;

  // Runs until the close event is set; returns at once when the worker's
  // log cannot be opened. `reading` is released once the reader has ended
  // and everything it received is in the journal, before the applier's end
  // is waited for.
  void Run(StopLatch::Hold reading);

 private:
  // Runs `applier` on `thread`; false when the close event ended the tries.
  bool StartApplier(ActivityLog& log, JournalApplier& applier, std::thread* thread);

  const ServerConfig config_;
  const ManualResetEvent* const close_event_;
  const std::string registry_file_;
  const JournalSettings journal_settings_;
  WorkerStats* const stats_;
  const WorkerOptions options_;
};

}  // namespace callsink
