#include "tests/service/service_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include "tests/support/child_process.h"

namespace callsink::test {

pid_t ServiceProcess::LockHolder(const std::string& pid_file) {
  const int fd = open(pid_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  const int result = fcntl(fd, F_GETLK, &query);
  close(fd);
  return result == 0 && query.l_type != F_UNLCK ? query.l_pid : 0;
}

bool ServiceProcess::Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  // The state follows the command name in parentheses.
  const size_t close_paren = line.rfind(')');
  return close_paren == std::string::npos || line.size() < close_paren + 3 ||
         line[close_paren + 2] == 'Z' || line[close_paren + 2] == 'X';
}

void ServiceProcess::Kill(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  WaitUntil(5000, [pid] { return Gone(pid); });
}

pid_t ServiceProcess::ParentOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("PPid:", 0) == 0) return static_cast<pid_t>(std::stoi(line.substr(5)));
  }
  return 0;
}

std::string ServiceProcess::ProcLink(pid_t pid, const std::string& link) {
  char target[4096];
  const std::string path = "/proc/" + std::to_string(pid) + "/" + link;
  const ssize_t size = readlink(path.c_str(), target, sizeof target);
  return size > 0 ? std::string(target, static_cast<size_t>(size)) : std::string();
}

}  // namespace callsink::test
