#pragma once

#include <chrono>
#include <string>

namespace callsink {

// Starts a program and returns at once, without waiting for it to end.
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;

  // Starts `folder` + `file` with the single argument `parameter`, in the
  // working folder `folder`. Returns a launch result code (LaunchResult):
  // above 32 when the program was started, otherwise why it was not.
  virtual int Launch(const std::string& folder, const std::string& file,
                     const std::string& parameter) = 0;
  // What the programs started since the last call wrote on their standard
  // error, after waiting up to `wait` for the last of them to end: for each
  // that wrote anything, "<file> <parameter>: " and its lines joined by
  // "; ", the programs joined the same way. Empty when none wrote anything.
  virtual std::string ErrorOutput(std::chrono::milliseconds wait) = 0;
};

}  // namespace callsink
