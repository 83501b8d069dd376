#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "manager/process_launcher.h"
#include "platform/file_descriptor.h"

namespace callsink {

// Launches through posix_spawn, without a shell: the program runs in its own
// session with standard input from /dev/null and inherits the environment.
// Its standard error goes into a file in memory, so that whatever it says
// is kept however long it runs and however much it writes, and never blocks
// it. Children that have ended are collected at the next launch and when the
// launcher goes away; it never waits for one that still runs, but for the
// time ErrorOutput is given.
class SpawnLauncher : public ProcessLauncher {
 public:
  SpawnLauncher() = default;
  ~SpawnLauncher() override;
  SpawnLauncher(const SpawnLauncher&) = delete;
  SpawnLauncher& operator=(const SpawnLauncher&) = delete;

  int Launch(const std::string& folder, const std::string& file,
             const std::string& parameter) override;
  std::string ErrorOutput(std::chrono::milliseconds wait) override;

 private:
  // A program started since the last ErrorOutput.
  struct Unreported {
    pid_t pid;
    std::string command;  // "<file> <parameter>"
    FileDescriptor errors;
  };

  void CollectEnded();

  std::vector<pid_t> children_;
  std::vector<Unreported> unreported_;
};

}  // namespace callsink
