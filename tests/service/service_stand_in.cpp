// Stands in for the collector's service process where a test needs one that
// misbehaves: it is recognised, starts and shuts down through Service exactly
// as the collector does (taking and releasing the service lock), and in
// between
//   CALLSINK_TEST_IGNORE_SIGTERM=1   ignores the stop request, or
//   CALLSINK_TEST_STOP_DELAY_MS=N    takes N ms to stop.
// With "--hold" it skips the launch check (a test started it directly).
// Exit codes: 0 stopped, 3 not launched as the service, 4 lock not taken.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "service/service.h"

int main(int argc, char** argv) {
  callsink::Service service("ACD Service", "ACD Service",
                            "Collects ACD call and status statistics");
  const bool started_by_test = argc > 1 && std::strcmp(argv[1], "--hold") == 0;
  if (!started_by_test && !service.StartedAsService()) return 3;

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  if (!service.Init()) return 4;
  std::printf("ready\n");
  std::fflush(stdout);

  const bool ignore_stop = std::getenv("CALLSINK_TEST_IGNORE_SIGTERM") != nullptr;
  const char* delay = std::getenv("CALLSINK_TEST_STOP_DELAY_MS");
  for (;;) {
    int signal_number = 0;
    sigwait(&stop, &signal_number);
    if (ignore_stop) continue;
    if (delay != nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
    service.Shutdown();
    return 0;
  }
}
