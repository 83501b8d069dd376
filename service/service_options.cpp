#include "service/service_options.h"

#include <array>
#include <thread>

namespace callsink {
namespace {

enum class Option { kNone, kRegister, kUnregister, kStart, kStop };

struct OptionText {
  const char* text;
  Option option;
};

// In the order the entry function compares them.
constexpr std::array<OptionText, 8> kOptions = {{
    {"-register", Option::kRegister},
    {"-r", Option::kRegister},
    {"-unregister", Option::kUnregister},
    {"-u", Option::kUnregister},
    {"-start", Option::kStart},
    {"-st", Option::kStart},
    {"-stop", Option::kStop},
    {"-sp", Option::kStop},
}};

Option Find(const std::string& command_line) {
  for (const OptionText& entry : kOptions) {
    if (command_line == entry.text) return entry.option;
  }
  return Option::kNone;
}

}  // namespace

bool ServiceOptions::IsOption(const std::string& command_line) {
  return Find(command_line) != Option::kNone;
}

void ServiceOptions::Perform(Service& service, const std::string& command_line) {
  switch (Find(command_line)) {
    case Option::kRegister:
      service.Install();
      break;
    case Option::kUnregister:
      service.Uninstall();
      break;
    case Option::kStart:
      service.Start();
      break;
    case Option::kStop:
      service.Stop();
      WaitForStop(service,
                  [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); });
      break;
    case Option::kNone:
      break;
  }
}

int ServiceOptions::WaitForStop(Service& service, const Sleep& sleep) {
  int pauses = 0;
  while (!service.IsStopped() && pauses < kStopPolls) {
    sleep(kStopPollInterval);
    ++pauses;
  }
  return pauses;
}

}  // namespace callsink
