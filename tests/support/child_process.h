#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace callsink::test {

// A program started by a test, ended by its PID only. The destructor kills
// and reaps a child that is still running.
class ChildProcess {
 public:
  // Starts `program` with `args` in `working_dir` (empty: the test's own),
  // with the test's environment plus `env` ("NAME=value" entries). Standard
  // output and error go to `output_file` when given, otherwise /dev/null.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {}, const std::string& working_dir = {},
               const std::string& output_file = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Signal(int signal_number) const;
  // The exit code once the child has ended within `timeout_ms`; a child
  // ended by a signal gives 128 + the signal. Empty on timeout.
  std::optional<int> WaitExit(int timeout_ms);
  bool Running();

 private:
  pid_t pid_ = -1;
  std::optional<int> exit_code_;
};

// Polls `condition` every 20 ms for up to `timeout_ms`; true once it holds.
bool WaitUntil(int timeout_ms, const std::function<bool()>& condition);

}  // namespace callsink::test
