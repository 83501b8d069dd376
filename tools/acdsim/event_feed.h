#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "tools/acdsim/call_centre_model.h"
#include "tools/acdsim/message_encoder.h"
#include "tools/acdsim/sim_options.h"

namespace callsink::acdsim {

class SimConnection;
class TrafficRecorder;
struct SimStats;

// One simulated ACD server's call centre at work, and who hears of it. The
// centre keeps working whether anyone listens or not; each event goes to
// every connection of the server that subscribed to its stream (and whose
// filters let it through). An event is missed when nobody received it
// although a connection wanted it (one too far behind with reading) or no
// connection was subscribed at all; the record shows it as "missed". An
// event that every subscriber filtered out is skipped.
//
// The events are paced one of three ways:
//   - on the simulated clock (no --rate): it starts at the start time when
//     the feed is made and runs `speed` times as fast as the wall clock;
//     each event goes out when the clock reaches it;
//   - at a rate (--rate R > 0): from the first subscription on, R events a
//     second, whatever the simulated clock says; a server that fell behind
//     catches up by at most a second's worth;
//   - unpaced (--rate 0): while at least one connection is subscribed, as
//     fast as every subscribed connection takes them.
// Received and missed events count (for the rate and for --events); skipped
// ones do not.
//
// Belongs to the simulator's one thread.
class EventFeed {
 public:
  using Clock = std::chrono::steady_clock;

  // `options`, `recorder` (may be null) and `stats` outlive the feed; the
  // simulated clock starts at `started`.
  EventFeed(const SimOptions& options, CallCentreModel model, uint16_t port,
            TrafficRecorder* recorder, SimStats* stats, Clock::time_point started);
  EventFeed(const EventFeed&) = delete;
  EventFeed& operator=(const EventFeed&) = delete;

  // The centre as it stands now, for the answers.
  const CallCentre& centre() const { return model_.centre(); }
  // The server's clock for the answers at `now`: seconds since 1970.
  uint32_t ServerTime(Clock::time_point now) const;

  // Hands the events due by `now` to the server's `connections`.
  void Produce(Clock::time_point now, std::span<const std::unique_ptr<SimConnection>> connections);
  // Milliseconds until events may be due; 0 for at once, -1 for none (until
  // a connection subscribes or takes what it was sent).
  int TimeoutMs(Clock::time_point now,
                std::span<const std::unique_ptr<SimConnection>> connections) const;

 private:
  bool Exhausted() const;
  uint64_t SimulatedMs(Clock::time_point now) const;
  // Runs the model to its next event that counts and hands it out; false
  // when the model found none.
  bool ProduceOne(Clock::time_point now,
                  std::span<const std::unique_ptr<SimConnection>> connections);
  // Hands one event to each connection that wants it; true when it counts.
  bool Offer(const SimEvent& event, Clock::time_point now,
             std::span<const std::unique_ptr<SimConnection>> connections);

  const SimOptions& options_;
  CallCentreModel model_;
  const uint16_t port_;
  TrafficRecorder* const recorder_;
  SimStats* const stats_;
  const Clock::time_point started_;
  const uint64_t start_ms_;
  const Clock::duration event_interval_;
  std::optional<Clock::time_point> next_slot_;  // at a rate: once a connection subscribed
  uint64_t counted_ = 0;
  std::array<uint8_t, MessageEncoder::kMaxBodySize> body_{};
};

}  // namespace callsink::acdsim
