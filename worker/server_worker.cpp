#include "worker/server_worker.h"

#include "config/config_layout.h"
#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_connection.h"
#include "store/acd_database.h"
#include "worker/database_writer.h"

namespace callsink {

ServerWorker::ServerWorker(ServerConfig config, const ManualResetEvent* close_event,
                           std::string registry_file)
    : config_(std::move(config)),
      close_event_(close_event),
      registry_file_(std::move(registry_file)) {}

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
  ReportState(ConfigLayout::kNothingConnected);

  // A failed table step closes the connection, so each retry connects afresh.
  while (!database.Connect(config_.mysqlServer, config_.mysqlUser, config_.mysqlPassword) ||
         !database.CreateTables(config_.acdServer)) {
    if (close_event_->Wait(kRetryIntervalMs)) return false;
  }
  ReportState(ConfigLayout::kDatabaseConnected);

  const auto port = static_cast<uint16_t>(config_.acdPort & 0xFFFF);
  while (!connection.Connect(config_.acdServer, port)) {
    if (close_event_->Wait(kRetryIntervalMs)) return false;
  }
  ReportState(ConfigLayout::kBothConnected);

  database.UpgradeAgentsTable();
  DatabaseWriter writer(&database);
  MessageDispatch(config_.acdServer, &log, &connection, &writer, close_event_, &buffer_).Run();
  connection.Close();
  database.Close();
  return !close_event_->IsSet();
}

void ServerWorker::ReportState(const char* state) const {
  ConfigLayout::WriteStatus(registry_file_, config_.registryPath, state);
}

}  // namespace callsink
