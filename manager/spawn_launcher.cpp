#include "manager/spawn_launcher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>

#include "manager/launch_result.h"

extern char** environ;

namespace callsink {

SpawnLauncher::~SpawnLauncher() { CollectEnded(); }

void SpawnLauncher::CollectEnded() {
  std::erase_if(children_, [](pid_t child) {
    int status = 0;
    const pid_t result = waitpid(child, &status, WNOHANG);
    return result == child || result < 0;
  });
}

int SpawnLauncher::Launch(const std::string& folder, const std::string& file,
                          const std::string& parameter) {
  CollectEnded();
  const std::string path = folder + file;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return LaunchResult::kOutOfResources;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return LaunchResult::kOutOfResources;
  }
  // Detached like a program started from the desktop: its own session, so
  // that the manager's terminal or window going away does not end a "-stop"
  // that is still waiting for the service.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  int result = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = 0;
  if (result == 0) {
    std::string argument0 = file;
    std::string argument1 = parameter;
    char* const argv[] = {argument0.data(), argument1.data(), nullptr};
    // glibc reports a failed exec (missing file, no execute right, bad
    // format) as the result, with the child already gone.
    result = posix_spawn(&child, path.c_str(), &actions, &attributes, argv, environ);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) return LaunchResult::FromErrno(result);
  children_.push_back(child);
  return LaunchResult::kStarted;
}

}  // namespace callsink
