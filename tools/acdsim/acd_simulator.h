#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"
#include "tools/acdsim/call_centre.h"
#include "tools/acdsim/sim_options.h"
#include "tools/acdsim/sim_stats.h"
#include "tools/acdsim/traffic_recorder.h"

namespace callsink {
class ManualResetEvent;
}

namespace callsink::acdsim {

class SimConnection;

// acdsim without its command line: one or more listening ACD servers, served
// by one thread in a poll() loop. Each accepted connection gets a fresh copy
// of the call centre and its own model, whose random sequence starts at
// options.random_start plus the listener's position, so every connection to
// a listener sees the same events.
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

  // Opens the listeners (and the record file). False with the reason in
  // `error`; nothing stays open then.
  bool Listen(std::string* error);
  // The listeners' ports, in order; valid after Listen.
  const std::vector<uint16_t>& ports() const { return ports_; }

  // Serves until `stop` is set, then closes every connection and listener.
  void Run(const ManualResetEvent& stop);

  const SimStats& stats() const { return stats_; }

 private:
  void AcceptFrom(size_t listener);

  const SimOptions options_;
  const CallCentre centre_;
  std::vector<FileDescriptor> listeners_;
  std::vector<uint16_t> ports_;
  std::vector<std::unique_ptr<SimConnection>> connections_;
  TrafficRecorder recorder_;
  bool recording_ = false;
  SimStats stats_;
  uint64_t next_connection_number_ = 1;
};

}  // namespace callsink::acdsim
