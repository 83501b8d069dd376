#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/acdsim/call_centre_model.h"

namespace callsink::acdsim {

// Everything acdsim's command line sets. Parse fills it; the simulator only
// reads it.
struct SimOptions {
  // A message class and type, for the fault flags that name one.
  struct MessageKind {
    uint16_t msg_class = 0;
    uint16_t msg_type = 0;
  };

  // Faults to inject; each applies to every message it concerns.
  struct Faults {
    std::optional<uint64_t> close_after;         // close after sending this many messages
    size_t split_bytes = 0;                      // write records in pieces of this size
    std::optional<uint32_t> bad_length;          // the header length every event carries
    std::optional<MessageKind> unknown_message;  // sent before every event
    std::optional<MessageKind> fail_kind;        // messages sent with a failure result...
    uint16_t fail_result = 3;                    // ...and this result, without body
    bool names_without_nul = false;
    uint32_t count_beyond = 0;                   // list counts exceed the entries sent by this
    size_t short_bodies = 0;                     // fixed-layout bodies are sent this much shorter
    std::optional<uint64_t> stop_reading_after;  // requests answered before reading stops
  };

  std::string listen_host = "127.0.0.1";
  uint16_t listen_port = 0;  // 0: the system picks a free port per listener
  size_t servers = 1;
  std::string scenario_path;  // empty: generate the centre
  size_t groups = 4;
  size_t agents = 20;
  uint64_t random_start = 1;
  // How the centre's events are paced. Without a rate, on the simulated
  // clock, which runs `speed` times as fast as the wall clock; with a rate,
  // that many events per second (0: as fast as the subscribers take them),
  // whatever the simulated clock says.
  double speed = 1;
  std::optional<double> rate;
  std::optional<uint64_t> max_events;  // per listener
  std::optional<uint32_t> start_time;  // the simulated clock's start; default: now
  CallCentreModel::Parameters day;     // the centre's working day
  std::string record_path;
  Faults faults;
  bool help = false;

  // Reads the arguments after the program name. On failure returns false
  // with the reason in `error`.
  static bool Parse(int argc, const char* const* argv, SimOptions* options, std::string* error);
  // The --help text: usage and every flag.
  static std::string HelpText();
};

}  // namespace callsink::acdsim
