#pragma once

#include <memory>
#include <string>
#include <vector>

#include "health/process_figures.h"
#include "health/worker_stats.h"

namespace callsink {

// The page the collector's metrics endpoint serves: the figures of every
// worker and the process's own, in the Prometheus text format. A worker's
// series carry `server` (its ACD server's address) and `config` (its
// configuration's number); no other configuration value, and so no
// password, ever appears. The journal's families appear once a journal has
// fed a worker's figures, and then only for such workers.
class MetricsPage {
 public:
  struct Worker {
    int config = 0;      // the configuration's number, from 1
    std::string server;  // its ACD server's address
    std::shared_ptr<const WorkerStats> stats;
  };

  // Label texts of the message counters: class, and type within the class.
  static constexpr const char* kClassNames[WorkerStats::kClassCount] = {"request", "response",
                                                                        "event"};
  // nullptr: no such type; such messages count as class and type "unknown".
  static constexpr const char* kTypeNames[WorkerStats::kClassCount][WorkerStats::kTypeCount] = {
      {},
      {"SubscribeStatus", "SubscribeCall", "SubscribeCDR", "SubscribeConfig", "Status", "GetGroups",
       "GetAgents", "GetAllAgents"},
      {"Status", "CDR", "Call", "GroupUpdate", "RelationUpdate", "AgentUpdate"}};
  static constexpr const char* kUnknown = "unknown";

  explicit MetricsPage(std::vector<Worker> workers) : workers_(std::move(workers)) {}

  // The page with the process's figures read now. Any thread; the workers
  // are fixed at construction.
  std::string Render() const { return Render(ProcessFigures::Read()); }
  std::string Render(const ProcessFigures& process) const;

 private:
  const std::vector<Worker> workers_;
};

}  // namespace callsink
