#pragma once

#include <mutex>
#include <string>

namespace callsink {

class WorkerStats;

// A worker's connection state in the configuration store: "N-N", "N-Y",
// "Y-N" or "Y-Y", the first letter for the ACD link, the third for the
// database. The reader sets the one, the applier the other, each from its
// own thread; every change is written at once, serialized, so the value
// written last is always the state as it is now. The worker's figures
// follow each link.
class LinkState {
 public:
  // Writes "N-N" to the configuration at `registry_path` in the store at
  // `registry_file` (empty: nowhere). `stats` outlives the state.
  LinkState(std::string registry_file, std::string registry_path, WorkerStats* stats);
  LinkState(const LinkState&) = delete;
  LinkState& operator=(const LinkState&) = delete;

  void SetAcd(bool up);
  void SetDatabase(bool up);

 private:
  void Set(bool* link, bool up);

  const std::string registry_file_;
  const std::string registry_path_;
  WorkerStats* const stats_;
  std::mutex mutex_;
  bool acd_ = false;
  bool database_ = false;
};

}  // namespace callsink
