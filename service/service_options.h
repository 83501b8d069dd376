#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "service/service.h"

namespace callsink {

// The collector's four installation and control options: "-register"/"-r",
// "-unregister"/"-u", "-start"/"-st", "-stop"/"-sp". Run on the main thread
// of a short-lived option process.
class ServiceOptions {
 public:
  // The "-stop" wait: IsStopped after the stop request, then up to
  // kStopPolls more times, kStopPollInterval apart.
  static constexpr int kStopPolls = 150;
  static constexpr std::chrono::milliseconds kStopPollInterval{200};

  using Sleep = std::function<void(std::chrono::milliseconds)>;

  // True when the whole command line equals one of the option texts,
  // exactly and case-sensitively.
  static bool IsOption(const std::string& command_line);
  // Performs the option; the outcome is not reported through the exit code.
  static void Perform(Service& service, const std::string& command_line);

  // The "-stop" wait with `sleep` as the pause between polls; returns how
  // many pauses it took (0 when the service was stopped at once).
  static int WaitForStop(Service& service, const Sleep& sleep);
};

}  // namespace callsink
