#pragma once

#include <string>

#include "config/server_config.h"
#include "worker/message_dispatch.h"

namespace callsink {

class AcdDatabase;
class ManualResetEvent;
class WorkerStats;

// The body of one worker thread: serves one configured ACD server for the
// life of the collector. Each pass reports "N-N", brings up the database
// (retried every 10 s), reports "N-Y", connects to the ACD server (retried
// every 10 s), reports "Y-Y" and dispatches until a connection fails; then
// it tears both down and starts over after a 10 s pause. It ends when the
// close event is set.
//
// Owns its configuration, log, connections and receive buffer; only the close
// event and its figures (read by the metrics endpoint) are shared with other
// threads.
class ServerWorker {
 public:
  static constexpr int kRetryIntervalMs = 10000;

  // `registry_file` is the configuration store where the state goes;
  // `stats`, which must outlive the worker, receives its figures.
  ServerWorker(ServerConfig config, const ManualResetEvent* close_event, std::string registry_file,
               WorkerStats* stats);
  ServerWorker(const ServerWorker&) = delete;
  ServerWorker& operator=(const ServerWorker&) = delete;

  // Runs passes until the close event is set; returns at once when the
  // worker's log cannot be opened.
  void Run();

 private:
  // One pass; false when the close event ended it.
  bool RunPass(ActivityLog& log);
  void ReportState(const char* state) const;
  // Counts the loss of the link that ended a dispatch.
  void CountLoss(const AcdDatabase& database) const;

  const ServerConfig config_;
  const ManualResetEvent* const close_event_;
  const std::string registry_file_;
  WorkerStats* const stats_;
  MessageDispatch::ReceiveBuffer buffer_{};
};

}  // namespace callsink
