#include "worker/server_worker.h"

#include <pthread.h>

#include <system_error>
#include <thread>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "worker/acd_reader.h"
#include "worker/journal.h"
#include "worker/journal_applier.h"
#include "worker/link_state.h"

namespace callsink {

ServerWorker::ServerWorker(ServerConfig config, const ManualResetEvent* close_event,
                           std::string registry_file, JournalSettings journal, WorkerStats* stats,
                           WorkerOptions options)
    : config_(std::move(config)),
      close_event_(close_event),
      registry_file_(std::move(registry_file)),
      journal_settings_(std::move(journal)),
      stats_(stats),
      options_(std::move(options)) {}

void ServerWorker::Run(StopLatch::Hold reading) {
  ActivityLog log;
  if (!log.Open(config_.acdServer)) return;
  LinkState state(registry_file_, config_.registryPath, stats_);
  Journal journal(
      {Journal::FolderFor(journal_settings_.spool, config_.acdServer), journal_settings_.cap_bytes,
       Journal::SegmentBytesFor(journal_settings_.cap_bytes)},
      &log);
  while (!journal.Open()) {
    if (close_event_->Wait(options_.retry_interval_ms)) return;
  }
  stats_->SetJournalCap(journal.cap_bytes());
  const WorkerParts parts{config_, &log, &journal, &state, stats_, close_event_, &options_};
  JournalApplier applier(parts);
  std::thread applying;
  if (!StartApplier(log, applier, &applying)) return;
  AcdReader(parts).Run();
  reading.Release();
  // The applier ends within a batch; one stuck in a database call holds up
  // only this thread, which nobody waits for.
  applying.join();
  log.Close();
}

bool ServerWorker::StartApplier(ActivityLog& log, JournalApplier& applier, std::thread* thread) {
  for (bool said = false;; said = true) {
    try {
      *thread = std::thread([&applier] { applier.Run(); });
      // Linux thread names hold 15 characters.
      pthread_setname_np(thread->native_handle(),
                         ("db " + config_.acdServer.substr(0, 12)).c_str());
      return true;
    } catch (const std::system_error& error) {
      // Out of threads for now (a process limit, memory): said once, tried
      // again every 10 s.
      if (!said) log.Write("Database thread could not be started, retrying: %s", error.what());
    }
    if (close_event_->Wait(options_.retry_interval_ms)) return false;
  }
}

}  // namespace callsink
