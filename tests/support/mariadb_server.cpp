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

constexpr auto kSignalLimit = std::chrono::seconds(30);

// The state letter of `pid` in /proc ('R', 'S', 'T' for stopped, 'Z' ...);
// 'X' when there is no such process.
char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content;
  if (!std::getline(stat, content)) return 'X';
  const size_t close = content.rfind(')');
  if (close == std::string::npos || close + 2 >= content.size()) return 'X';
  return content[close + 2];
}

// True while `pid` is a process that has not ended; a zombie counts as ended,
// since the server is not our child and may wait for a reaper that never comes.
bool IsRunning(pid_t pid) {
  const char state = ProcessState(pid);
  return state != 'Z' && state != 'X';
}

// Signals arrive asynchronously: waits until `reached` holds for the process.
template <typename Condition>
bool AwaitState(pid_t pid, Condition reached) {
  const auto deadline = std::chrono::steady_clock::now() + kSignalLimit;
  while (!reached(ProcessState(pid))) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool IsGone(char state) { return state == 'Z' || state == 'X'; }

}  // namespace

MariaDbServer::~MariaDbServer() {
  if (env_.has_value() || pid_ != 0) RunScript("stop", {});
}

bool MariaDbServer::Start(const std::vector<std::string>& options) {
  return RunScript("start", options) && LoadEnv();
}

std::vector<std::string> MariaDbServer::TlsOptions(const std::string& ca, const std::string& cert,
                                                   const std::string& key) {
  return {"--ssl-ca=" + ca, "--ssl-cert=" + cert, "--ssl-key=" + key};
}

bool MariaDbServer::Stop() {
  const bool stopped = RunScript("stop", {});
  env_.reset();
  pid_ = 0;
  return stopped;
}

bool MariaDbServer::Kill() { return Signal(SIGKILL) && AwaitState(pid_, IsGone); }

bool MariaDbServer::Pause() {
  return Signal(SIGSTOP) &&
         AwaitState(pid_, [](char state) { return state == 'T' || IsGone(state); }) &&
         IsRunning(pid_);
}

bool MariaDbServer::Resume() {
  return Signal(SIGCONT) && AwaitState(pid_, [](char state) { return state != 'T'; }) &&
         IsRunning(pid_);
}

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
