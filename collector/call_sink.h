#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/config_row.h"
#include "config/server_config.h"
#include "health/metrics_endpoint.h"
#include "health/metrics_page.h"
#include "platform/folder_lock.h"
#include "platform/stop_latch.h"
#include "service/service.h"

namespace callsink {

class ActivityLog;
struct MetricsEndpointSetting;

// The collector's service: its run loop starts one worker thread per
// configured ACD server and the metrics endpoint, and once the close event
// is set, stops the endpoint, gives the workers' readers a moment to
// journal what they received, and returns without waiting for the rest of
// the workers (an applier may be in a database call).
// Exactly one instance exists per process, and one process per
// configuration store: the run loop holds the lock on the store's folder for
// the object's life (FolderLock), and refuses to run when another collector
// holds it.
//
// Run and RunWorker run on their own threads; they share the close event
// and each worker's figures, which the endpoint reads.
class CallSink : public Service {
 public:
  CallSink();
  ~CallSink() override;

  // Run's result when another collector holds the configuration store.
  static constexpr int kRefused = 1;

  bool Init() override;
  // Starts the workers, waits for the close event, returns 0; kRefused at
  // once, after saying so in the common log, the event log and on stderr,
  // when another collector runs on the same configuration store.
  int Run() override;
  bool Shutdown() override;
  // Code 128 also prepares the process again.
  void ControlHandler(int control) override;

  // Makes the executable's folder the current directory, so that the logs
  // land in its "logs" folder, and ignores SIGQUIT. Always true.
  bool PrepareProcess();

  // How long a stop waits for the workers' readers to put what they
  // received into their journals.
  static constexpr int kReaderStopMs = 2000;

  // The body of one worker thread. Takes ownership of the record; counts
  // into `stats`, which it shares with the endpoint; releases `reading`
  // once its reader has journaled what it received, after the close event.
  virtual void RunWorker(std::unique_ptr<ServerConfig> config, std::shared_ptr<WorkerStats> stats,
                         StopLatch::Hold reading);

  // Workers started by the last Run.
  int worker_count() const { return worker_count_; }

  // The registry file the run loop reads; tests point it elsewhere.
  void set_registry_file(std::string file) { registry_file_ = std::move(file); }
  const std::string& registry_file() const { return registry_file_; }

 private:
  // Takes the lock on the configuration store's folder; false when another
  // collector holds it.
  bool LockStore(ActivityLog& log);
  // Reads the layout and starts a worker per configuration, at most
  // ConfigLayout::kMaxConfigs. A store this process cannot write is read,
  // and the workers then write no connection state.
  void StartWorkers(ActivityLog& log);
  void StartWorker(ActivityLog& log, int number, const ConfigRow& row);
  // The folder for the workers' journals: the spool below the state folder,
  // or, when that cannot be written (a read-only mount) and the runtime
  // folder can, the runtime folder, which holds them only while the
  // collector runs; said in the common log.
  std::string ChooseSpool(ActivityLog& log) const;
  // Serves the started workers' figures where `setting` says; logs why not
  // when it cannot.
  void StartMetrics(ActivityLog& log, const MetricsEndpointSetting& setting);

  std::string registry_file_;
  // Where the workers write their connection state; empty: nowhere.
  std::string status_file_;
  FolderLock store_lock_;
  // Held by each worker until its reader has ended.
  StopLatch readers_;
  int worker_count_ = 0;
  // Read with the configurations, before any worker starts.
  uint64_t journal_cap_bytes_ = 0;
  DatabaseTlsSetting database_tls_;
  uint32_t retention_days_ = 0;
  std::string spool_directory_;
  std::vector<MetricsPage::Worker> metrics_workers_;
  std::unique_ptr<MetricsEndpoint> metrics_;
};

}  // namespace callsink
