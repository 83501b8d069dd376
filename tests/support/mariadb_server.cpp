#include "tests/support/mariadb_server.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

extern char** environ;

namespace callsink::test {
namespace {

// True while `pid` is a process that has not ended; a zombie counts as ended,
// since the server is not our child and may wait for a reaper that never comes.
bool IsRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content;
  if (!std::getline(stat, content)) return false;
  const size_t close = content.rfind(')');
  if (close == std::string::npos || close + 2 >= content.size()) return false;
  const char state = content[close + 2];
  return state != 'Z' && state != 'X';
}

}  // namespace

MariaDbServer::~MariaDbServer() {
  if (env_.has_value() || pid_ != 0) RunScript("stop", {});
}

bool MariaDbServer::Start(const std::vector<std::string>& options) {
  return RunScript("start", options) && LoadEnv();
}

bool MariaDbServer::Stop() {
  const bool stopped = RunScript("stop", {});
  env_.reset();
  pid_ = 0;
  return stopped;
}

bool MariaDbServer::Kill() {
  if (!Signal(SIGKILL)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (IsRunning(pid_)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool MariaDbServer::Pause() { return Signal(SIGSTOP); }

bool MariaDbServer::Resume() { return Signal(SIGCONT); }

bool MariaDbServer::Restart() { return RunScript("restart", {}) && LoadEnv(); }

bool MariaDbServer::RunScript(const char* action, const std::vector<std::string>& options) {
  std::vector<std::string> arguments = {CALLSINK_MARIADB_SCRIPT, action, folder_};
  arguments.insert(arguments.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t script = 0;
  if (posix_spawn(&script, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(script, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool MariaDbServer::Signal(int signal) {
  return pid_ > 0 && IsRunning(pid_) && kill(pid_, signal) == 0;
}

bool MariaDbServer::LoadEnv() {
  env_ = MariaDbEnv::LoadFile(folder_ + "/env");
  if (!env_.has_value()) return false;
  std::ifstream pid_file(folder_ + "/mariadbd.pid");
  pid_file >> pid_;
  return pid_ > 0;
}

}  // namespace callsink::test
