#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "manager/process_launcher.h"

namespace callsink {

// Launches through posix_spawn, without a shell: the program runs in its own
// session with standard input from /dev/null and inherits the environment.
// Children that have ended are collected at the next launch and when the
// launcher goes away; it never waits for one that still runs.
class SpawnLauncher : public ProcessLauncher {
 public:
  SpawnLauncher() = default;
  ~SpawnLauncher() override;
  SpawnLauncher(const SpawnLauncher&) = delete;
  SpawnLauncher& operator=(const SpawnLauncher&) = delete;

  int Launch(const std::string& folder, const std::string& file,
             const std::string& parameter) override;

 private:
  void CollectEnded();

  std::vector<pid_t> children_;
};

}  // namespace callsink
