#pragma once

#include <string>
#include <vector>

namespace callsink {

// Runs systemctl, the service manager's own command-line client, without a
// shell. Tests subclass it to record the calls instead. One thread at a time.
class Systemctl {
 public:
  // Where systemctl's complaints go.
  enum class Errors { kHidden, kShown };

  virtual ~Systemctl() = default;

  // Runs "systemctl <arguments>" and waits for it. Returns its exit code,
  // or -1 when it could not be run (errno says why) or was killed. Standard
  // output is collected into `output` when given (discarded otherwise);
  // standard error reaches this process's stderr only with Errors::kShown.
  virtual int Run(const std::vector<std::string>& arguments, std::string* output, Errors errors);
};

}  // namespace callsink
