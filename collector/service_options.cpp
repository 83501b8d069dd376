#include "collector/service_options.h"

#include <chrono>
#include <thread>

namespace callsink {
namespace {

constexpr int kStopPolls = 150;
constexpr auto kStopPollInterval = std::chrono::milliseconds(200);

}  // namespace

bool ServiceOptions::IsOption(const std::string& command_line) {
  for (const char* option :
       {"-register", "-r", "-unregister", "-u", "-start", "-st", "-stop", "-sp"}) {
    if (command_line == option) return true;
  }
  return false;
}

void ServiceOptions::Perform(Service& service, const std::string& command_line) {
  if (command_line == "-register" || command_line == "-r") {
    service.Install();
  } else if (command_line == "-unregister" || command_line == "-u") {
    service.Uninstall();
  } else if (command_line == "-start" || command_line == "-st") {
    service.Start();
  } else if (command_line == "-stop" || command_line == "-sp") {
    service.Stop();
    for (int poll = 0; poll < kStopPolls && !service.IsStopped(); ++poll) {
      std::this_thread::sleep_for(kStopPollInterval);
    }
  }
}

}  // namespace callsink
