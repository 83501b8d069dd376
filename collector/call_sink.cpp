#include "collector/call_sink.h"

#include <pthread.h>

#include <csignal>
#include <thread>

#include "config/config_layout.h"
#include "config/config_reader.h"
#include "config/metrics_endpoint_setting.h"
#include "platform/activity_log.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/system_paths.h"
#include "service/collector_service_names.h"
#include "worker/server_worker.h"

namespace callsink {
CallSink::CallSink()
    : Service(CollectorServiceNames::kName, CollectorServiceNames::kDisplayName,
              CollectorServiceNames::kDescription),
      registry_file_(SystemPaths::RegistryFile()) {}

CallSink::~CallSink() = default;

bool CallSink::Init() {
  if (!Service::Init()) return false;
  return PrepareProcess();
}

bool CallSink::Shutdown() { return Service::Shutdown(); }

void CallSink::ControlHandler(int control) {
  Service::ControlHandler(control);
  if (control == kControlUser1) PrepareProcess();
}

bool CallSink::PrepareProcess() {
  ProcessInfo::SetCurrentDirectory(ProcessInfo::ExecutableFolder());
  std::signal(SIGQUIT, SIG_IGN);
  return true;
}

int CallSink::Run() {
  const int result = Service::Run();
  LogEvent(EventLog::kSuccess, EventLog::kRunningMessage, "");
  worker_count_ = 0;

  auto log = std::make_unique<ActivityLog>();
  if (!log->Open("common")) return result;

  StartWorkers(*log);
  log->Write("Waiting for close event");
  closeEvent().Wait(-1);
  metrics_.reset();
  metrics_workers_.clear();
  // Workers watch the close event in every wait and in every receive, and
  // end by themselves; one stuck in a database call must not hold up the
  // stop, so nobody waits for them here.
  log->Write("Exitting run function");
  log->Close();
  log.reset();
  LogEvent(EventLog::kSuccess, EventLog::kStoppedMessage, "");
  return result;
}

void CallSink::StartWorkers(ActivityLog& log) {
  Registry registry(registry_file_);
  if (!registry.Open(Registry::OpenMode::kExisting)) {
    log.Write("Configuration store unavailable, no server is collected: %s",
              registry.error().c_str());
    return;
  }
  ConfigReadCallbacks callbacks;
  // Each worker starts as soon as its configuration is read, after the
  // lines about its values.
  callbacks.config = [&](int number, ConfigRow row) { StartWorker(log, number, row); };
  callbacks.count_capped = [&](int count) {
    log.Write("ConfigCount %d exceeds the %d servers one collector serves; the rest are ignored",
              count, ConfigLayout::kMaxConfigs);
  };
  callbacks.value_ignored = [&](int number, const char* name) {
    log.Write("Value %s of Config%d is longer than %zu characters and is ignored", name, number,
              ConfigLayout::kMaxValueLength);
  };
  ReadConfigs(registry, callbacks);
  StartMetrics(log, MetricsEndpointSetting::Read(registry));
}

void CallSink::StartMetrics(ActivityLog& log, const MetricsEndpointSetting& setting) {
  switch (setting.mode) {
    case MetricsEndpointSetting::Mode::kOff:
      return;
    case MetricsEndpointSetting::Mode::kInvalid:
      log.Write("Metrics endpoint \"%s\" is neither HOST:PORT nor %s; no metrics are served",
                setting.text.c_str(), MetricsEndpointSetting::kOff);
      return;
    case MetricsEndpointSetting::Mode::kServe:
      break;
  }
  auto page = std::make_shared<const MetricsPage>(metrics_workers_);
  metrics_ = std::make_unique<MetricsEndpoint>([page] { return page->Render(); });
  std::string error;
  if (!metrics_->Start(setting.host, setting.port, &error)) {
    log.Write("Metrics endpoint %s unavailable (%s); no metrics are served",
              setting.Address().c_str(), error.c_str());
    metrics_.reset();
  }
}

void CallSink::StartWorker(ActivityLog& log, int number, const ConfigRow& row) {
  auto config = std::make_unique<ServerConfig>();
  config->acdServer = row[kAcdServer];
  config->acdPort = ConfigLayout::AtoI(row[kAcdPort]);
  config->mysqlServer = row[kMysqlServer];
  config->mysqlUser = row[kMysqlUser];
  config->mysqlPassword = row[kMysqlPassword];
  config->registryPath = ConfigLayout::ConfigKey(number);

  auto stats = std::make_shared<WorkerStats>();
  metrics_workers_.push_back({number, config->acdServer, stats});
  log.Write("Starting thread for server: %s", config->acdServer.c_str());
  // Linux thread names hold 15 characters.
  const std::string thread_name = config->acdServer.substr(0, 15);
  std::thread worker([this, record = std::move(config), stats = std::move(stats)]() mutable {
    ServerWorker(std::move(record), std::move(stats));
  });
  pthread_setname_np(worker.native_handle(), thread_name.c_str());
  worker.detach();
  ++worker_count_;
}

void CallSink::ServerWorker(std::unique_ptr<ServerConfig> config,
                            std::shared_ptr<WorkerStats> stats) {
  callsink::ServerWorker(std::move(*config), &closeEvent(), registry_file_, stats.get()).Run();
}

}  // namespace callsink
