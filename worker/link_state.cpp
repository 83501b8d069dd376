#include "worker/link_state.h"

#include "config/config_layout.h"
#include "health/worker_stats.h"

namespace callsink {

LinkState::LinkState(std::string registry_file, std::string registry_path, WorkerStats* stats)
    : registry_file_(std::move(registry_file)),
      registry_path_(std::move(registry_path)),
      stats_(stats) {
  ConfigLayout::WriteStatus(registry_file_, registry_path_, ConfigLayout::kNothingConnected);
}

void LinkState::SetAcd(bool up) {
  stats_->SetLinkUp(WorkerStats::Link::kAcd, up);
  Set(&acd_, up);
}

void LinkState::SetDatabase(bool up) {
  stats_->SetLinkUp(WorkerStats::Link::kDatabase, up);
  Set(&database_, up);
}

void LinkState::Set(bool* link, bool up) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (*link == up) return;
  *link = up;
  static constexpr const char* kStates[2][2] = {
      {ConfigLayout::kNothingConnected, ConfigLayout::kDatabaseConnected},
      {ConfigLayout::kAcdConnected, ConfigLayout::kBothConnected}};
  // A failed write is ignored, as every state write is.
  ConfigLayout::WriteStatus(registry_file_, registry_path_, kStates[acd_][database_]);
}

}  // namespace callsink
