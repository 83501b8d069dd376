#include "tests/support/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace callsink::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, const std::string& working_dir,
                           const std::string& output_file) {
  // Everything the child needs is built before fork: a multi-threaded parent
  // leaves the child unable to allocate safely.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string current(*entry);
    const std::string name = current.substr(0, current.find('='));
    bool overridden = false;
    for (const std::string& extra : env) overridden |= extra.rfind(name + "=", 0) == 0;
    if (!overridden) environment.push_back(current);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ != 0) return;
  if (!working_dir.empty() && chdir(working_dir.c_str()) != 0) _exit(126);
  const int out = output_file.empty()
                      ? open("/dev/null", O_WRONLY)
                      : open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  // Signals a test ignores must not stay ignored in the program under test.
  for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE}) std::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(program.c_str(), argv.data(), envp.data());
  _exit(127);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && Running()) {
    kill(pid_, SIGKILL);
    WaitExit(5000);
  }
}

bool ChildProcess::Signal(int signal_number) const {
  return pid_ > 0 && !exit_code_ && kill(pid_, signal_number) == 0;
}

std::optional<int> ChildProcess::WaitExit(int timeout_ms) {
  if (exit_code_) return exit_code_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exit_code_;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ChildProcess::Running() { return !WaitExit(0).has_value(); }

bool WaitUntil(int timeout_ms, const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace callsink::test
