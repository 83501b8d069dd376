#include "tools/acdsim/event_feed.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "protocol/acd_header.h"
#include "tools/acdsim/sim_connection.h"
#include "tools/acdsim/sim_stats.h"
#include "tools/acdsim/traffic_recorder.h"

namespace callsink::acdsim {
namespace {

using Connections = std::span<const std::unique_ptr<SimConnection>>;

// Events that every subscriber filters out are skipped; give up after this
// many in one go so that a filter nothing matches cannot hold the loop.
constexpr int kMaxSkippedEvents = 10000;
// A feed on the clock that fell behind (a fast clock, a busy machine) hands
// out at most this many events a round, so that answers do not wait.
constexpr int kMostEventsPerRound = 10000;
// Paced and unpaced feeds look this far ahead for the model's next event.
constexpr uint64_t kLookAheadMs = 24 * 3600 * 1000;
constexpr int kLongestWaitMs = 60000;

EventFeed::Clock::duration IntervalFor(const std::optional<double>& rate) {
  using Duration = EventFeed::Clock::duration;
  if (!rate || *rate <= 0) return Duration::zero();
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(1.0 / *rate));
}

int WaitMs(EventFeed::Clock::duration wait) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  return static_cast<int>(std::clamp<int64_t>(ms, 0, kLongestWaitMs));
}

bool AnySubscribed(Connections connections, EventFeed::Clock::time_point now) {
  return std::any_of(connections.begin(), connections.end(),
                     [now](const auto& connection) { return connection->Subscribed(now); });
}

// Unpaced: someone listens, and nobody who listens is behind.
bool ReadyForMore(Connections connections, EventFeed::Clock::time_point now) {
  return AnySubscribed(connections, now) &&
         std::none_of(connections.begin(), connections.end(), [now](const auto& connection) {
           return connection->Subscribed(now) && !connection->HasRoom();
         });
}

}  // namespace

EventFeed::EventFeed(const SimOptions& options, CallCentreModel model, uint16_t port,
                     TrafficRecorder* recorder, SimStats* stats, Clock::time_point started)
    : options_(options),
      model_(std::move(model)),
      port_(port),
      recorder_(recorder),
      stats_(stats),
      started_(started),
      start_ms_(model_.now_ms()),
      event_interval_(IntervalFor(options.rate)) {}

bool EventFeed::Exhausted() const {
  return options_.max_events && counted_ >= *options_.max_events;
}

uint64_t EventFeed::SimulatedMs(Clock::time_point now) const {
  const std::chrono::duration<double, std::milli> elapsed = now - started_;
  return start_ms_ + static_cast<uint64_t>(std::max(0.0, elapsed.count() * options_.speed));
}

uint32_t EventFeed::ServerTime(Clock::time_point now) const {
  if (options_.rate) return model_.now();
  return static_cast<uint32_t>(std::max(SimulatedMs(now), model_.now_ms()) / 1000);
}

void EventFeed::Produce(Clock::time_point now, Connections connections) {
  if (!options_.rate) {
    const uint64_t until = SimulatedMs(now);
    for (int i = 0; i < kMostEventsPerRound && !Exhausted(); ++i) {
      const std::optional<SimEvent> event = model_.NextUntil(until);
      if (!event) return;
      Offer(*event, now, connections);
    }
    return;
  }
  if (*options_.rate <= 0) {
    while (!Exhausted() && ReadyForMore(connections, now) && ProduceOne(now, connections)) {
    }
    return;
  }
  if (!next_slot_) {
    if (!AnySubscribed(connections, now)) return;
    next_slot_ = now;
  }
  const Clock::time_point earliest = now - std::chrono::seconds(1);
  if (*next_slot_ < earliest) next_slot_ = earliest;
  while (!Exhausted() && *next_slot_ <= now) {
    ProduceOne(now, connections);
    *next_slot_ += event_interval_;
  }
}

int EventFeed::TimeoutMs(Clock::time_point now, Connections connections) const {
  if (Exhausted()) return -1;
  if (!options_.rate) {
    const uint64_t due = model_.next_due_ms();
    const uint64_t simulated = SimulatedMs(now);
    if (due <= simulated) return 0;
    const std::chrono::duration<double, std::milli> wait(static_cast<double>(due - simulated) /
                                                         options_.speed);
    return WaitMs(std::chrono::duration_cast<Clock::duration>(wait));
  }
  if (next_slot_ && *options_.rate > 0) return WaitMs(*next_slot_ - now);
  if (*options_.rate <= 0 && ReadyForMore(connections, now)) return 0;
  // Waiting for a subscription to take effect.
  int timeout = -1;
  for (const auto& connection : connections) {
    const std::optional<Clock::time_point> from = connection->subscribed_from();
    if (!from || *from <= now) continue;
    const int wait = WaitMs(*from - now);
    timeout = timeout < 0 ? wait : std::min(timeout, wait);
  }
  return timeout;
}

bool EventFeed::ProduceOne(Clock::time_point now, Connections connections) {
  for (int skipped = 0; skipped < kMaxSkippedEvents; ++skipped) {
    const std::optional<SimEvent> event = model_.NextUntil(model_.now_ms() + kLookAheadMs);
    if (!event) return false;
    if (Offer(*event, now, connections)) return true;
  }
  return false;
}

bool EventFeed::Offer(const SimEvent& event, Clock::time_point now, Connections connections) {
  AcdHeader header;
  header.msg_class = static_cast<uint16_t>(wire::MessageClass::kEvent);
  header.msg_type = static_cast<uint16_t>(event.type);
  header.timestamp = event.time;
  const size_t size = MessageEncoder::Event(body_, event, centre());
  const std::span<const uint8_t> body(body_.data(), size);
  bool anyone_subscribed = false;
  bool wanted = false;
  bool received = false;
  for (const auto& connection : connections) {
    anyone_subscribed = anyone_subscribed || connection->Subscribed(now);
    if (!connection->Wants(event, now)) continue;
    wanted = true;
    if (connection->Behind()) continue;
    connection->Deliver(header, body);
    received = true;
  }
  const bool missed = !received && (wanted || !anyone_subscribed);
  if (missed) {
    ++stats_->missed;
    if (recorder_ != nullptr) {
      header.length = static_cast<uint32_t>(wire::kHeaderSize + size);
      std::array<uint8_t, wire::kMaxMessageSize> message;
      HeaderToNetwork(header,
                      std::span<uint8_t, wire::kHeaderSize>(message.data(), wire::kHeaderSize));
      std::memcpy(message.data() + wire::kHeaderSize, body.data(), size);
      recorder_->Record(port_, 0, TrafficRecorder::Direction::kMissed,
                        {message.data(), wire::kHeaderSize + size});
    }
  }
  const bool counts = received || missed;
  if (counts) ++counted_;
  return counts;
}

}  // namespace callsink::acdsim
