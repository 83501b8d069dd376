#include "manager/system_rebooter.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/system_paths.h"

extern char** environ;

namespace callsink {

bool SystemRebooter::RequestReboot() {
  // A relocated root means a test: the real computer is never restarted.
  if (SystemPaths::IsRelocated()) return false;
  char program[] = "systemctl";
  char verb[] = "reboot";
  char* const argv[] = {program, verb, nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace callsink
