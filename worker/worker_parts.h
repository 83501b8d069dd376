#pragma once

#include "config/server_config.h"
#include "worker/worker_options.h"

namespace callsink {

class ActivityLog;
class Journal;
class LinkState;
class ManualResetEvent;
class WorkerStats;

// What the two halves of a worker (AcdReader, JournalApplier) share: all of
// it the worker's, outliving both halves.
struct WorkerParts {
  const ServerConfig& config;
  ActivityLog* log;
  Journal* journal;
  LinkState* state;
  WorkerStats* stats;
  const ManualResetEvent* close_event;
  const WorkerOptions* options = &WorkerOptions::Defaults();
};

}  // namespace callsink
