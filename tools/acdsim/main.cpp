// acdsim: an ACD server simulator. See README.md beside this file.
#include <signal.h>

#include <cstdio>
#include <string>

#include "platform/manual_reset_event.h"
#include "tools/acdsim/acd_simulator.h"

namespace {

callsink::ManualResetEvent* stop_event = nullptr;

void OnStopSignal(int) { stop_event->Set(); }

}  // namespace

int main(int argc, char** argv) {
  using callsink::acdsim::AcdSimulator;
  using callsink::acdsim::SimOptions;

  SimOptions options;
  std::string error;
  if (!SimOptions::Parse(argc - 1, argv + 1, &options, &error)) {
    std::fprintf(stderr, "acdsim: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(SimOptions::HelpText().c_str(), stdout);
    return 0;
  }
  callsink::acdsim::CallCentre centre;
  if (!AcdSimulator::LoadCentre(options, &centre, &error)) {
    std::fprintf(stderr, "acdsim: %s\n", error.c_str());
    return 1;
  }

  callsink::ManualResetEvent stop;
  stop_event = &stop;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  AcdSimulator simulator(options, std::move(centre));
  if (!simulator.Listen(&error)) {
    std::fprintf(stderr, "acdsim: %s\n", error.c_str());
    return 1;
  }
  for (uint16_t port : simulator.ports()) {
    std::printf("listening %s:%u\n", options.listen_host.c_str(), port);
  }
  std::fflush(stdout);

  simulator.Run(stop);
  std::printf("%s\n", simulator.stats().Summary().c_str());
  std::fflush(stdout);
  return 0;
}
