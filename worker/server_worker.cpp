#include "worker/server_worker.h"

#include "config/config_layout.h"
#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_connection.h"
#include "store/acd_database.h"
#include "worker/database_writer.h"

namespace callsink {

ServerWorker::ServerWorker(ServerConfig config, const ManualResetEvent* close_event,
                           std::string registry_file, WorkerStats* stats)
    : config_(std::move(config)),
      close_event_(close_event),
      registry_file_(std::move(registry_file)),
      stats_(stats) {}

void ServerWorker::Run() {
  ActivityLog log;
  if (!log.Open(config_.acdServer)) return;
  while (RunPass(log) && !close_event_->Wait(kRetryIntervalMs)) {
  }
  log.Close();
}

bool ServerWorker::RunPass(ActivityLog& log) {
  AcdConnection connection(&log, close_event_);
  AcdDatabase database(&log);
  database.CountInto(stats_);
  ReportState(ConfigLayout::kNothingConnected);

  // A failed table step closes the connection, so each retry connects afresh.
  while (!database.Connect(config_.mysqlServer, config_.mysqlUser, config_.mysqlPassword) ||
         !database.CreateTables(config_.acdServer)) {
    stats_->CountRetry(WorkerStats::Link::kDatabase);
    if (close_event_->Wait(kRetryIntervalMs)) return false;
  }
  stats_->CountConnect(WorkerStats::Link::kDatabase);
  ReportState(ConfigLayout::kDatabaseConnected);

  const auto port = static_cast<uint16_t>(config_.acdPort & 0xFFFF);
  while (!connection.Connect(config_.acdServer, port)) {
    stats_->CountRetry(WorkerStats::Link::kAcd);
    if (close_event_->Wait(kRetryIntervalMs)) return false;
  }
  stats_->CountConnect(WorkerStats::Link::kAcd);
  ReportState(ConfigLayout::kBothConnected);

  database.UpgradeAgentsTable();
  database.WatchIdRanges();
  DatabaseWriter writer(&database);
  MessageDispatch(config_.acdServer, &log, &connection, &writer, close_event_, &buffer_, stats_)
      .Run();
  CountLoss(database);
  connection.Close();
  database.Close();
  return !close_event_->IsSet();
}

void ServerWorker::ReportState(const char* state) const {
  ConfigLayout::WriteStatus(registry_file_, config_.registryPath, state);
  stats_->SetLinkUp(WorkerStats::Link::kAcd, state[0] == 'Y');
  stats_->SetLinkUp(WorkerStats::Link::kDatabase, state[2] == 'Y');
}

void ServerWorker::CountLoss(const AcdDatabase& database) const {
  if (close_event_->IsSet()) return;
  // The dispatch ends on a failed database check (which closes the store),
  // or else on the ACD link. The state stays "Y-Y" until the next pass, as
  // specified; the figures say at once which link is down.
  const WorkerStats::Link lost =
      database.IsConnected() ? WorkerStats::Link::kAcd : WorkerStats::Link::kDatabase;
  stats_->CountLoss(lost);
  stats_->SetLinkUp(lost, false);
}

}  // namespace callsink
