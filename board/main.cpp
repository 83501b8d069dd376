// callsinkboard: the supervisors' live wallboard over acd_db.
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
#include "web/web_server.h"

namespace {

constexpr const char* kUsage =
    "usage: callsinkboard [--config FILE] [--listen HOST:PORT] [--database HOST[:PORT]]\n"
    "                     [--user NAME] [--password-file FILE] [--time-zone ZONE]\n"
    "                     [--service-level SECONDS] [--service-level-target PERCENT]\n"
    "                     [--longest-wait-limit SECONDS] [--refresh SECONDS]\n"
    "                     [--status-names \"CODE:NAME,...\"] [--queued-call-state CODE]\n"
    "                     [--web-config FILE]\n"
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
  // The web configuration file is followed while the board runs: a renewed
  // certificate needs no restart, a spoilt file stops the serving.
  WebServer server(
      BoardHttp::Site(cache, settings), settings.web_config,
      [](const std::string& line) { std::fprintf(stderr, "callsinkboard: %s\n", line.c_str()); });
  if (!server.Start(settings.listen_host, settings.listen_port, &error)) {
    std::fprintf(stderr, "callsinkboard: cannot serve on %s:%d: %s\n", settings.listen_host.c_str(),
                 settings.listen_port, error.c_str());
    return 1;
  }
  std::printf("callsinkboard: serving %s://%s:%d/\n",
              settings.web_config.empty() ? "http" : "https", settings.listen_host.c_str(),
              server.port());
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stops, &signal_number);
  server.Stop();
  cache.Stop();
  return 0;
}
