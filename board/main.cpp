// callsinkboard: the supervisors' live wallboard over acd_db.
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "board/board_http.h"
#include "board/board_settings.h"
#include "board/local_clock.h"
#include "board/snapshot_cache.h"

namespace {

constexpr const char* kUsage =
    "usage: callsinkboard [--config FILE] [--listen HOST:PORT] [--database HOST[:PORT]]\n"
    "                     [--user NAME] [--password-file FILE] [--time-zone ZONE]\n"
    "                     [--service-level SECONDS] [--service-level-target PERCENT]\n"
    "                     [--longest-wait-limit SECONDS] [--refresh SECONDS]\n"
    "                     [--status-names \"CODE:NAME,...\"] [--queued-call-state CODE]\n"
    "Settings are read from /etc/callsink/board.conf (key = value, the flags' names)\n"
    "and then from the flags.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace callsink;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  BoardSettings settings;
  std::string error;
  if (!settings.Load(arguments, &error)) {
    std::fprintf(stderr, "callsinkboard: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (!LocalClock::Use(settings.time_zone)) {
    std::fprintf(stderr, "callsinkboard: no time zone %s in the system's tzdata\n",
                 settings.time_zone.c_str());
    return 2;
  }
  // The client library takes a TCP port from here when a connect names none;
  // it reads it once, at the first connect, which is still to come.
  if (settings.database_port != 0) {
    setenv("MYSQL_TCP_PORT", std::to_string(settings.database_port).c_str(), 1);
  }
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);  // every thread started below inherits it

  SnapshotCache cache(settings, std::chrono::seconds(settings.refresh_seconds));
  cache.Start();
  const std::unique_ptr<httplib::Server> server = BoardHttp::CreateServer(cache, settings);
  if (!server->bind_to_port(settings.listen_host, settings.listen_port)) {
    std::fprintf(stderr, "callsinkboard: cannot listen on %s:%d\n", settings.listen_host.c_str(),
                 settings.listen_port);
    return 1;
  }
  std::thread serving([&server] { server->listen_after_bind(); });
  std::printf("callsinkboard: serving http://%s:%d/\n", settings.listen_host.c_str(),
              settings.listen_port);
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stops, &signal_number);
  while (!server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server->stop();
  serving.join();
  cache.Stop();
  return 0;
}
