#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"
#include "protocol/acd_header.h"
#include "tools/acdsim/message_encoder.h"
#include "tools/acdsim/sim_event.h"
#include "tools/acdsim/sim_options.h"

namespace callsink::acdsim {

class EventFeed;
class TrafficRecorder;
struct SimStats;

// The server side of one accepted connection: reads requests and answers
// them from its server's centre, takes the events of the streams the client
// subscribed to from the server's feed, and applies the configured faults.
// Driven by the simulator's poll loop (PollEvents / TimeoutMs tell it what
// the connection waits for); never blocks. Belongs to the simulator's one
// thread.
class SimConnection {
 public:
  using Clock = std::chrono::steady_clock;

  // `options`, `feed`, `recorder` (may be null) and `stats` outlive the
  // connection.
  SimConnection(FileDescriptor socket, const SimOptions& options, const EventFeed& feed,
                uint16_t port, uint64_t number, TrafficRecorder* recorder, SimStats* stats);
  SimConnection(const SimConnection&) = delete;
  SimConnection& operator=(const SimConnection&) = delete;

  int fd() const { return socket_.get(); }
  bool closed() const { return !socket_.valid(); }
  // The poll() events to wait for now.
  short PollEvents(Clock::time_point now) const;
  // Milliseconds until the connection has timed work (the next piece of a
  // split record, the end of its linger); 0 for at once, -1 for none.
  int TimeoutMs(Clock::time_point now) const;

  // Handles what poll() reported for the socket: reads what arrived and
  // answers every whole request; closes on a socket error or hang-up that
  // no read will show.
  void OnPollEvents(short revents);

  // When the client's subscriptions take effect: a moment after its first
  // one, so that subscriptions sent together take effect together. Nullopt
  // while it holds none (or can be sent nothing more).
  std::optional<Clock::time_point> subscribed_from() const;
  // Whether it holds a subscription that has taken effect.
  bool Subscribed(Clock::time_point now) const;
  // Whether it wants `event` now: subscribed to its stream, and the filters
  // let it through.
  bool Wants(const SimEvent& event, Clock::time_point now) const;
  // Whether it is so far behind with reading that it misses events.
  bool Behind() const;
  // Whether its unsent output leaves room for more unpaced events.
  bool HasRoom() const;
  // Queues an event (class, type and timestamp in `header`), applying the
  // faults that concern it.
  void Deliver(const AcdHeader& header, std::span<const uint8_t> body);
  // Writes as much pending output as the socket takes. Once a close-after
  // limit was reached and all went out, ends the sending side (the client
  // reads an orderly end) and closes when the client closes too, or after a
  // few seconds; closing at once with unread requests would reset the
  // connection instead.
  void Flush(Clock::time_point now);
  void Close();

 private:
  enum class BodyShape { kNone, kFixedLayout, kList, kForeign };
  struct Subscription {
    bool active = false;
    std::string group_filter;
    std::string agent_filter;
  };

  bool Reading() const;
  bool Sendable() const;
  size_t PendingOutput() const { return output_.size() - output_head_; }
  bool Fails(uint16_t msg_class, uint16_t msg_type) const;

  void HandleRequests();
  void HandleRequest(const AcdHeader& header, const uint8_t* body, size_t length);
  void Subscribe(Subscription* subscription, const AcdHeader& header, bool active,
                 std::string group_filter, std::string agent_filter);
  void AnswerStatus(const AcdHeader& request, const uint8_t* body);
  void AnswerGroups(const AcdHeader& request);
  void AnswerAgents(const AcdHeader& request, const uint8_t* body);
  void AnswerAllAgents(const AcdHeader& request);
  template <typename Entry, typename Encode>
  void AnswerList(const AcdHeader& request, std::span<const Entry> entries, size_t per_message,
                  Encode encode);
  void Answer(const AcdHeader& request, uint16_t result, std::span<const uint8_t> body,
              BodyShape shape);

  bool Wanted(const SimEvent& event) const;
  // Queues one message, applying the faults that concern it; fills in
  // `header.length`.
  void Send(AcdHeader header, std::span<const uint8_t> body, BodyShape shape);

  FileDescriptor socket_;
  const SimOptions& options_;
  const EventFeed& feed_;
  const uint16_t port_;
  const uint64_t number_;
  TrafficRecorder* const recorder_;
  SimStats* const stats_;

  std::vector<uint8_t> input_;
  size_t input_head_ = 0;
  std::vector<uint8_t> output_;
  size_t output_head_ = 0;
  std::array<uint8_t, MessageEncoder::kMaxBodySize> body_{};

  Subscription status_;
  Subscription call_;
  Subscription cdr_;
  Subscription config_;  // no filters

  uint64_t requests_handled_ = 0;
  uint64_t messages_sent_ = 0;
  bool closing_ = false;
  std::optional<Clock::time_point> linger_until_;  // set once the sending side is shut
  std::optional<Clock::time_point> events_from_;   // see subscribed_from()
  Clock::time_point next_write_at_{};
};

}  // namespace callsink::acdsim
