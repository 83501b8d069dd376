#include "manager/spawn_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "manager/launch_result.h"

extern char** environ;

namespace callsink {
namespace {

// Waits up to `wait` for the child `pid`, not yet collected, to end.
void WaitForEnd(pid_t pid, std::chrono::milliseconds wait) {
  const FileDescriptor process(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  if (!process.valid()) return;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  pollfd ended{process.get(), POLLIN, 0};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || poll(&ended, 1, static_cast<int>(left)) >= 0 || errno != EINTR) return;
  }
}

std::string WholeFile(const FileDescriptor& file) {
  std::string content;
  char buffer[4096];
  ssize_t count = 0;
  while (file.valid() && (count = pread(file.get(), buffer, sizeof buffer,
                                        static_cast<off_t>(content.size()))) > 0) {
    content.append(buffer, static_cast<size_t>(count));
  }
  return content;
}

// The lines of `text` that hold more than blanks, joined by "; ".
std::string JoinedLines(const std::string& text) {
  std::string lines;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(begin, end - begin);
    if (line.find_first_not_of(" \t\r") != std::string::npos) {
      lines += (lines.empty() ? "" : "; ") + line;
    }
    begin = end + 1;
  }
  return lines;
}

}  // namespace

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
  FileDescriptor errors(memfd_create("launched-errors", MFD_CLOEXEC));
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
  if (errors.valid()) posix_spawn_file_actions_adddup2(&actions, errors.get(), STDERR_FILENO);
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
  unreported_.push_back({child, file + " " + parameter, std::move(errors)});
  return LaunchResult::kStarted;
}

std::string SpawnLauncher::ErrorOutput(std::chrono::milliseconds wait) {
  // Not collected before the next launch, so the PID still names it.
  if (!unreported_.empty()) WaitForEnd(unreported_.back().pid, wait);
  std::string text;
  for (const Unreported& launched : unreported_) {
    const std::string lines = JoinedLines(WholeFile(launched.errors));
    if (!lines.empty()) text += (text.empty() ? "" : "; ") + launched.command + ": " + lines;
  }
  unreported_.clear();
  return text;
}

}  // namespace callsink
