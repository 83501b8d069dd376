#include "collector/call_sink.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>
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
namespace {

// 0 when `folder` may be written, or could be made because the nearest
// folder above it that exists may be written; the error otherwise.
int WriteError(std::filesystem::path folder) {
  while (access(folder.c_str(), W_OK) != 0) {
    if (errno != ENOENT || !folder.has_relative_path()) return errno;
    folder = folder.parent_path();
  }
  return 0;
}

}  // namespace

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
  if (!LockStore(*log)) return kRefused;

  StartWorkers(*log);
  log->Write("Waiting for close event");
  closeEvent().Wait(-1);
  metrics_.reset();
  metrics_workers_.clear();
  // Workers watch the close event in every wait and in every receive, and
  // end by themselves. What a reader received must reach its journal
  // before the process ends; one stuck in a write, or an applier in a
  // database call, must not hold up the stop for long: the journal keeps
  // the applier's work.
  readers_.WaitReleased(kReaderStopMs);
  log->Write("Exitting run function");
  log->Close();
  log.reset();
  LogEvent(EventLog::kSuccess, EventLog::kStoppedMessage, "");
  return result;
}

bool CallSink::LockStore(ActivityLog& log) {
  const std::string folder = std::filesystem::path(registry_file_).parent_path();
  // Without the folder there is no store and nothing to collect twice; a
  // lock that cannot be taken for other reasons leaves the store's own
  // failure to say what is wrong.
  if (store_lock_.Lock(folder) != FolderLock::Result::kHeldByOther) return true;
  const std::string text = "Another collector runs on the configuration store in " + folder +
                           ", this one does not start";
  log.Write("%s", ActivityLog::Printable(text).c_str());
  LogEvent(EventLog::kError, EventLog::kErrorMessage, text);
  std::fprintf(stderr, "callsink: %s\n", text.c_str());
  return false;
}

void CallSink::StartWorkers(ActivityLog& log) {
  Registry registry(registry_file_);
  status_file_ = registry_file_;
  if (!registry.Open(Registry::OpenMode::kExisting)) {
    const std::string reason = registry.error();
    if (!registry.Open(Registry::OpenMode::kReadOnly)) {
      log.Write("Configuration store unavailable, no server is collected: %s",
                ActivityLog::Printable(reason).c_str());
      return;
    }
    // Collecting needs only the layout; the states are the manager's
    // display, which then shows the service's state alone.
    status_file_.clear();
    log.Write("Configuration store read-only, connection states are not written: %s",
              ActivityLog::Printable(reason).c_str());
  }
  journal_cap_bytes_ = ReadJournalCapBytes(registry);
  database_tls_ = DatabaseTlsSetting::Read(registry);
  retention_days_ = ReadRetentionDays(registry);
  spool_directory_ = ChooseSpool(log);
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
  if (ReadConfigs(registry, callbacks) == ConfigReadResult::kFailed) {
    log.Write("Configuration store could not be read, no further server is collected: %s",
              ActivityLog::Printable(registry.error()).c_str());
  }
  StartMetrics(log, MetricsEndpointSetting::Read(registry));
}

std::string CallSink::ChooseSpool(ActivityLog& log) const {
  const std::string spool = SystemPaths::SpoolDirectory();
  const int error = WriteError(spool);
  if (error == 0) return spool;
  const std::string runtime = SystemPaths::RuntimeSpoolDirectory();
  // Neither: the workers say every 10 s why their journal does not open.
  if (WriteError(runtime) != 0) return spool;
  log.Write(
      "Journal folder %s cannot be written (%s); the journals are kept in %s, which "
      "holds them only while the collector runs",
      ActivityLog::Printable(spool).c_str(), std::strerror(error),
      ActivityLog::Printable(runtime).c_str());
  return runtime;
}

void CallSink::StartMetrics(ActivityLog& log, const MetricsEndpointSetting& setting) {
  switch (setting.mode) {
    case MetricsEndpointSetting::Mode::kOff:
      return;
    case MetricsEndpointSetting::Mode::kInvalid:
      log.Write("Metrics endpoint \"%s\" is neither HOST:PORT nor %s; no metrics are served",
                ActivityLog::Printable(setting.text).c_str(), MetricsEndpointSetting::kOff);
      return;
    case MetricsEndpointSetting::Mode::kServe:
      break;
  }
  auto page = std::make_shared<const MetricsPage>(metrics_workers_);
  metrics_ = std::make_unique<MetricsEndpoint>(
      [page] { return page->Render(); }, setting.web_config,
      [&log](const std::string& line) { log.Write("%s", ActivityLog::Printable(line).c_str()); });
  std::string error;
  if (!metrics_->Start(setting.host, setting.port, &error)) {
    log.Write("Metrics endpoint %s unavailable (%s); no metrics are served",
              setting.Address().c_str(), ActivityLog::Printable(error).c_str());
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
  config->databaseTls = database_tls_;
  config->retentionDays = retention_days_;

  auto stats = std::make_shared<WorkerStats>();
  const std::string server = ActivityLog::Printable(config->acdServer);
  log.Write("Starting thread for server: %s", server.c_str());
  // Linux thread names hold 15 characters.
  const std::string thread_name = config->acdServer.substr(0, 15);
  const std::string acd_server = config->acdServer;
  try {
    std::thread worker(
        [this, record = std::move(config), stats, reading = readers_.Take()]() mutable {
          RunWorker(std::move(record), std::move(stats), std::move(reading));
        });
    pthread_setname_np(worker.native_handle(), thread_name.c_str());
    worker.detach();
  } catch (const std::system_error& error) {
    // Out of threads (a process limit, memory): this server goes without a
    // worker, the others are still served.
    log.Write("Thread for server %s could not be started: %s", server.c_str(), error.what());
    return;
  }
  metrics_workers_.push_back({number, acd_server, std::move(stats)});
  ++worker_count_;
}

void CallSink::RunWorker(std::unique_ptr<ServerConfig> config, std::shared_ptr<WorkerStats> stats,
                         StopLatch::Hold reading) {
  ServerWorker(std::move(*config), &closeEvent(), status_file_,
               {spool_directory_, journal_cap_bytes_}, stats.get())
      .Run(std::move(reading));
}

}  // namespace callsink
