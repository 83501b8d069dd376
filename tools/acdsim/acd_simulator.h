#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"
#include "tools/acdsim/call_centre.h"
#include "tools/acdsim/event_feed.h"
#include "tools/acdsim/sim_options.h"
#include "tools/acdsim/sim_stats.h"
#include "tools/acdsim/traffic_recorder.h"

namespace callsink {
class ManualResetEvent;
}

namespace callsink::acdsim {

class SimConnection;

// acdsim without its command line: one or more listening ACD servers, served
// by one thread in a poll() loop. Each server has its own copy of the call
// centre at work from Listen on, its random sequence started at
// options.random_start plus the server's position; every connection to a
// server answers from that centre and gets the events of the streams it
// subscribed to (see EventFeed).
//
// Listen, Run and stats belong to one thread; the stop event may be set from
// any thread or a signal handler.
class AcdSimulator {
 public:
  AcdSimulator(SimOptions options, CallCentre centre);
  ~AcdSimulator();
  AcdSimulator(const AcdSimulator&) = delete;
  AcdSimulator& operator=(const AcdSimulator&) = delete;

  // The centre the options ask for: read from the scenario file, or
  // generated; names filled to their field width when asked to. False with
  // the reason in `error`.
  static bool LoadCentre(const SimOptions& options, CallCentre* centre, std::string* error);

  // Opens the listeners (and the record file) and sets the centres to work.
  // False with the reason in `error`; nothing stays open then.
  bool Listen(std::string* error);
  // The listeners' ports, in order; valid after Listen.
  const std::vector<uint16_t>& ports() const { return ports_; }

  // Serves until `stop` is set, then closes every connection and listener.
  void Run(const ManualResetEvent& stop);

  const SimStats& stats() const { return stats_; }

 private:
  // One listening ACD server: its socket, its centre at work, its clients.
  struct Server {
    FileDescriptor listener;
    uint16_t port = 0;
    std::unique_ptr<EventFeed> feed;
    std::vector<std::unique_ptr<SimConnection>> connections;
  };

  void StartFeeds();
  void AcceptFrom(Server& server);

  const SimOptions options_;
  const CallCentre centre_;
  std::vector<Server> servers_;
  std::vector<uint16_t> ports_;
  TrafficRecorder recorder_;
  bool recording_ = false;
  SimStats stats_;
  uint64_t next_connection_number_ = 1;
};

}  // namespace callsink::acdsim
