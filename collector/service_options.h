#pragma once

#include <string>

#include "collector/service.h"

namespace callsink {

// The collector's four installation and control options: "-register"/"-r",
// "-unregister"/"-u", "-start"/"-st", "-stop"/"-sp". Run on the main thread
// of a short-lived option process.
class ServiceOptions {
 public:
  // True when the whole command line equals one of the option texts,
  // exactly and case-sensitively.
  static bool IsOption(const std::string& command_line);
  // Performs the option; the outcome is not reported through the exit code.
  static void Perform(Service& service, const std::string& command_line);
};

}  // namespace callsink
