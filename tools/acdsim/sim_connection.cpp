#include "tools/acdsim/sim_connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/wire_coding.h"
#include "tools/acdsim/event_feed.h"
#include "tools/acdsim/sim_stats.h"
#include "tools/acdsim/traffic_recorder.h"

namespace callsink::acdsim {
namespace {

using wire::EventType;
using wire::MessageClass;
using wire::RequestType;

// Unpaced producing stops at this much unsent output and waits for the
// socket; enough to hand the kernel large writes.
constexpr size_t kOutputHighWater = 256 * 1024;
// A connection this far behind misses the events of its streams until it
// has caught up, so that a client that stopped reading cannot fill memory.
constexpr size_t kOutputLimit = 64 * 1024 * 1024;
constexpr size_t kReadChunk = 64 * 1024;
// Events start this long after a connection's first subscription. A client
// sends its subscriptions back to back; once all have arrived, the events it
// gets no longer depend on how the requests were split into segments.
constexpr auto kSubscriptionSettle = std::chrono::milliseconds(50);
// How long a connection that ended its sending side waits for the client
// to close.
constexpr auto kLinger = std::chrono::seconds(5);
// Gap between the pieces of a split record, so each leaves as its own
// segment.
constexpr auto kSplitPause = std::chrono::milliseconds(1);
constexpr size_t kForeignBodySize = 36;

// Results of refused requests.
constexpr uint16_t kResultUnknownName = 1;
constexpr uint16_t kResultMalformed = 2;

constexpr uint16_t Number(MessageClass value) { return static_cast<uint16_t>(value); }

// A request field, given by its offset in the message.
const uint8_t* Field(const uint8_t* body, size_t message_offset) {
  return body + (message_offset - wire::kHeaderSize);
}

std::string Text(const uint8_t* body, size_t message_offset) {
  return std::string(wire::LoadText(Field(body, message_offset), wire::kNameWidth));
}

// "*" and an empty filter take everything. A filter of 15 characters also
// takes the 16-character name it was cut from.
bool Matches(const std::string& filter, std::string_view name) {
  if (filter.empty() || filter == "*" || filter == name) return true;
  return filter.size() == wire::kNameWidth - 1 && name.size() == wire::kNameWidth &&
         name.starts_with(filter);
}

}  // namespace

SimConnection::SimConnection(FileDescriptor socket, const SimOptions& options,
                             const EventFeed& feed, uint16_t port, uint64_t number,
                             TrafficRecorder* recorder, SimStats* stats)
    : socket_(std::move(socket)),
      options_(options),
      feed_(feed),
      port_(port),
      number_(number),
      recorder_(recorder),
      stats_(stats),
      closing_(options.faults.close_after == uint64_t{0}) {}

bool SimConnection::Reading() const {
  if (closed()) return false;
  const auto& limit = options_.faults.stop_reading_after;
  return !limit || requests_handled_ < *limit;
}

bool SimConnection::Sendable() const { return !closed() && !closing_; }

std::optional<SimConnection::Clock::time_point> SimConnection::subscribed_from() const {
  return Sendable() ? events_from_ : std::nullopt;
}

bool SimConnection::Subscribed(Clock::time_point now) const {
  const std::optional<Clock::time_point> from = subscribed_from();
  return from && *from <= now;
}

bool SimConnection::HasRoom() const { return PendingOutput() < kOutputHighWater; }

bool SimConnection::Fails(uint16_t msg_class, uint16_t msg_type) const {
  const auto& kind = options_.faults.fail_kind;
  return kind && kind->msg_class == msg_class && kind->msg_type == msg_type;
}

short SimConnection::PollEvents(Clock::time_point now) const {
  short events = 0;
  if (Reading()) events |= POLLIN;
  if (PendingOutput() > 0 && (options_.faults.split_bytes == 0 || now >= next_write_at_)) {
    events |= POLLOUT;
  }
  return events;
}

int SimConnection::TimeoutMs(Clock::time_point now) const {
  if (closed()) return -1;
  int timeout = -1;
  const auto consider = [&](Clock::time_point at) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(at - now).count();
    const int ms = static_cast<int>(std::clamp<int64_t>(wait, 0, 60000));
    timeout = timeout < 0 ? ms : std::min(timeout, ms);
  };
  if (options_.faults.split_bytes > 0 && PendingOutput() > 0) consider(next_write_at_);
  if (linger_until_) consider(*linger_until_);
  return timeout;
}

void SimConnection::Close() {
  socket_.Reset();
  output_.clear();
  output_head_ = 0;
}

// ---- Reading and answering ---------------------------------------------------

void SimConnection::OnPollEvents(short revents) {
  if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
  if (!Reading()) {
    if ((revents & (POLLHUP | POLLERR)) != 0) Close();
    return;
  }
  for (;;) {
    const size_t old_size = input_.size();
    input_.resize(old_size + kReadChunk);
    const ssize_t received = recv(socket_.get(), input_.data() + old_size, kReadChunk, 0);
    input_.resize(old_size + static_cast<size_t>(std::max<ssize_t>(received, 0)));
    if (received > 0) continue;
    if (received < 0 && errno == EINTR) continue;
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // The client closed (or failed): answer nothing more, but keep what it
    // sent in the record.
    HandleRequests();
    Close();
    return;
  }
  HandleRequests();
}

void SimConnection::HandleRequests() {
  while (Reading() && !closed()) {
    const size_t available = input_.size() - input_head_;
    if (available < wire::kHeaderSize) break;
    const uint8_t* message = input_.data() + input_head_;
    const AcdHeader header =
        HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(message, wire::kHeaderSize));
    const std::optional<size_t> body_length = BodyLength(header);
    if (!body_length) {
      // No way to find the next request after a broken length.
      if (recorder_ != nullptr) {
        recorder_->Record(port_, number_, TrafficRecorder::Direction::kIn,
                          {message, wire::kHeaderSize});
      }
      ++stats_->requests;
      Close();
      return;
    }
    if (available < header.length) break;
    if (recorder_ != nullptr) {
      recorder_->Record(port_, number_, TrafficRecorder::Direction::kIn, {message, header.length});
    }
    ++stats_->requests;
    ++requests_handled_;
    HandleRequest(header, message + wire::kHeaderSize, *body_length);
    input_head_ += header.length;
  }
  if (input_head_ == input_.size()) {
    input_.clear();
    input_head_ = 0;
  } else if (input_head_ > kReadChunk) {
    input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(input_head_));
    input_head_ = 0;
  }
}

void SimConnection::HandleRequest(const AcdHeader& header, const uint8_t* body, size_t length) {
  // Requests of other classes and types get no answer.
  if (header.msg_class != Number(MessageClass::kRequest)) return;
  constexpr size_t kValueBody = wire::kValueRequestSize - wire::kHeaderSize;
  constexpr size_t kGroupBody = wire::kGroupRequestSize - wire::kHeaderSize;
  constexpr size_t kAgentGroupBody = wire::kAgentGroupRequestSize - wire::kHeaderSize;
  const auto too_short = [&](size_t shape_body) {
    if (length >= shape_body) return false;
    Answer(header, kResultMalformed, {}, BodyShape::kNone);
    return true;
  };
  switch (static_cast<RequestType>(header.msg_type)) {
    case RequestType::kSubscribeStatus:
      if (too_short(kAgentGroupBody)) return;
      Subscribe(&status_, header,
                wire::LoadLittleEndian32(Field(body, wire::kAgentGroupRequestValueOffset)) != 0,
                Text(body, wire::kAgentGroupRequestGroupOffset),
                Text(body, wire::kAgentGroupRequestAgentOffset));
      return;
    case RequestType::kSubscribeCall:
    case RequestType::kSubscribeCdr: {
      if (too_short(kGroupBody)) return;
      Subscription* subscription =
          header.msg_type == static_cast<uint16_t>(RequestType::kSubscribeCall) ? &call_ : &cdr_;
      Subscribe(subscription, header,
                wire::LoadLittleEndian32(Field(body, wire::kGroupRequestValueOffset)) != 0,
                Text(body, wire::kGroupRequestNameOffset), {});
      return;
    }
    case RequestType::kSubscribeConfig:
      if (too_short(kValueBody)) return;
      Subscribe(&config_, header,
                wire::LoadBigEndian32(Field(body, wire::kValueRequestValueOffset)) != 0, {}, {});
      return;
    case RequestType::kStatus:
      if (too_short(kAgentGroupBody)) return;
      AnswerStatus(header, body);
      return;
    case RequestType::kGetGroups:
      AnswerGroups(header);
      return;
    case RequestType::kGetAgents:
      if (too_short(kGroupBody)) return;
      AnswerAgents(header, body);
      return;
    case RequestType::kGetAllAgents:
      AnswerAllAgents(header);
      return;
  }
}

void SimConnection::Subscribe(Subscription* subscription, const AcdHeader& header, bool active,
                              std::string group_filter, std::string agent_filter) {
  if (active && !events_from_) events_from_ = Clock::now() + kSubscriptionSettle;
  subscription->active = active;
  subscription->group_filter = std::move(group_filter);
  subscription->agent_filter = std::move(agent_filter);
  if (!status_.active && !call_.active && !cdr_.active && !config_.active) events_from_.reset();
  Answer(header, wire::kResultSuccess, {}, BodyShape::kNone);
}

void SimConnection::AnswerStatus(const AcdHeader& request, const uint8_t* body) {
  const CallCentre& centre = feed_.centre();
  const uint32_t group = centre.FindGroup(Text(body, wire::kAgentGroupRequestGroupOffset));
  const uint32_t agent = centre.FindAgent(Text(body, wire::kAgentGroupRequestAgentOffset));
  const uint32_t membership = group == CallCentre::kNone || agent == CallCentre::kNone
                                  ? CallCentre::kNone
                                  : centre.FindMembership(group, agent);
  if (membership == CallCentre::kNone) {
    Answer(request, kResultUnknownName, {}, BodyShape::kNone);
    return;
  }
  const size_t size =
      MessageEncoder::Status(body_, centre.agent(agent).name, centre.group(group).name,
                             centre.membership(membership).status);
  Answer(request, wire::kResultSuccess, {body_.data(), size}, BodyShape::kFixedLayout);
}

template <typename Entry, typename Encode>
void SimConnection::AnswerList(const AcdHeader& request, std::span<const Entry> entries,
                               size_t per_message, Encode encode) {
  // A failure is one body-less answer, not one per part.
  if (Fails(Number(MessageClass::kResponse), request.msg_type)) {
    Answer(request, options_.faults.fail_result, {}, BodyShape::kNone);
    return;
  }
  // A list too long for one message goes out in several, each a complete
  // response to the same request.
  size_t start = 0;
  do {
    const auto part = entries.subspan(start, std::min(per_message, entries.size() - start));
    const uint64_t count = part.size() + uint64_t{options_.faults.count_beyond};
    const size_t size = encode(static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX)), part);
    Answer(request, wire::kResultSuccess, {body_.data(), size}, BodyShape::kList);
    start += part.size();
  } while (start < entries.size());
}

void SimConnection::AnswerGroups(const AcdHeader& request) {
  std::vector<std::string_view> names;
  for (const CallCentre::Group& group : feed_.centre().groups()) {
    if (group.present) names.push_back(group.name);
  }
  AnswerList<std::string_view>(request, names, MessageEncoder::kGroupsPerMessage,
                               [this](uint32_t count, std::span<const std::string_view> part) {
                                 return MessageEncoder::GroupList(body_, count, part);
                               });
}

void SimConnection::AnswerAgents(const AcdHeader& request, const uint8_t* body) {
  const CallCentre& centre = feed_.centre();
  const uint32_t group = centre.FindGroup(Text(body, wire::kGroupRequestNameOffset));
  if (group == CallCentre::kNone) {
    Answer(request, kResultUnknownName, {}, BodyShape::kNone);
    return;
  }
  std::vector<std::string_view> names;
  for (uint32_t membership : centre.group(group).members) {
    names.push_back(centre.agent(centre.membership(membership).agent).name);
  }
  const std::string_view group_name = centre.group(group).name;
  AnswerList<std::string_view>(
      request, names, MessageEncoder::kAgentsPerMessage,
      [this, group_name](uint32_t count, std::span<const std::string_view> part) {
        return MessageEncoder::AgentList(body_, group_name, count, part);
      });
}

void SimConnection::AnswerAllAgents(const AcdHeader& request) {
  std::vector<MessageEncoder::FullAgent> agents;
  for (const CallCentre::Agent& agent : feed_.centre().agents()) {
    if (agent.present) agents.emplace_back(agent.name, agent.full_name);
  }
  AnswerList<MessageEncoder::FullAgent>(
      request, agents, MessageEncoder::kFullAgentsPerMessage,
      [this](uint32_t count, std::span<const MessageEncoder::FullAgent> part) {
        return MessageEncoder::FullAgentList(body_, count, part);
      });
}

void SimConnection::Answer(const AcdHeader& request, uint16_t result, std::span<const uint8_t> body,
                           BodyShape shape) {
  AcdHeader header;
  header.msg_class = Number(MessageClass::kResponse);
  header.msg_type = request.msg_type;
  header.result = result;
  header.request_id = request.request_id;
  header.timestamp = feed_.ServerTime(Clock::now());
  Send(header, body, shape);
}

// ---- Events ----------------------------------------------------------------------

bool SimConnection::Wanted(const SimEvent& event) const {
  const CallCentre& centre = feed_.centre();
  switch (event.type) {
    case EventType::kStatus:
      return status_.active && Matches(status_.group_filter, centre.group(event.group).name) &&
             Matches(status_.agent_filter, centre.agent(event.agent).name);
    case EventType::kCall:
      return call_.active && Matches(call_.group_filter, centre.group(event.group).name);
    case EventType::kCdr:
      return cdr_.active && Matches(cdr_.group_filter, centre.group(event.group).name);
    case EventType::kGroupUpdate:
    case EventType::kRelationUpdate:
    case EventType::kAgentUpdate:
      return config_.active;
  }
  return false;
}

bool SimConnection::Wants(const SimEvent& event, Clock::time_point now) const {
  return Subscribed(now) && Wanted(event);
}

bool SimConnection::Behind() const { return PendingOutput() >= kOutputLimit; }

void SimConnection::Deliver(const AcdHeader& header, std::span<const uint8_t> body) {
  if (const auto& foreign = options_.faults.unknown_message) {
    static constexpr std::array<uint8_t, kForeignBodySize> kZeros{};
    AcdHeader before;
    before.msg_class = foreign->msg_class;
    before.msg_type = foreign->msg_type;
    before.timestamp = header.timestamp;
    Send(before, kZeros, BodyShape::kForeign);
  }
  Send(header, body, BodyShape::kFixedLayout);
  ++stats_->events[header.msg_type];
}

// ---- Sending -------------------------------------------------------------------------

void SimConnection::Send(AcdHeader header, std::span<const uint8_t> body, BodyShape shape) {
  if (closing_ || closed()) return;
  const SimOptions::Faults& faults = options_.faults;
  if (shape != BodyShape::kForeign && Fails(header.msg_class, header.msg_type)) {
    header.result = faults.fail_result;
    body = {};
  } else if (shape == BodyShape::kFixedLayout && faults.short_bodies > 0) {
    body = body.first(body.size() - std::min(faults.short_bodies, body.size()));
  }
  header.length = static_cast<uint32_t>(wire::kHeaderSize + body.size());
  size_t body_sent = body.size();
  const bool is_event =
      header.msg_class == Number(MessageClass::kEvent) && shape != BodyShape::kForeign;
  if (is_event && faults.bad_length) {
    header.length = *faults.bad_length;
    body_sent = header.length > wire::kHeaderSize ? header.length - wire::kHeaderSize : 0;
  }

  const size_t size = wire::kHeaderSize + body_sent;
  const size_t offset = output_.size();
  output_.resize(offset + size);
  uint8_t* message = output_.data() + offset;
  HeaderToNetwork(header, std::span<uint8_t, wire::kHeaderSize>(message, wire::kHeaderSize));
  const size_t copied = std::min(body_sent, body.size());
  if (copied > 0) std::memcpy(message + wire::kHeaderSize, body.data(), copied);
  std::memset(message + wire::kHeaderSize + copied, 0, body_sent - copied);

  if (recorder_ != nullptr) {
    recorder_->Record(port_, number_, TrafficRecorder::Direction::kOut, {message, size});
  }
  ++messages_sent_;
  if (faults.close_after && messages_sent_ >= *faults.close_after) closing_ = true;
}

void SimConnection::Flush(Clock::time_point now) {
  if (closed()) return;
  if (linger_until_) {
    if (now >= *linger_until_) Close();
    return;
  }
  const size_t split = options_.faults.split_bytes;
  while (PendingOutput() > 0) {
    if (split > 0 && now < next_write_at_) break;
    const size_t length = split > 0 ? std::min(split, PendingOutput()) : PendingOutput();
    const ssize_t sent =
        send(socket_.get(), output_.data() + output_head_, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      Close();  // the client went away
      return;
    }
    output_head_ += static_cast<size_t>(sent);
    if (split > 0) next_write_at_ = now + kSplitPause;
  }
  if (PendingOutput() == 0) {
    output_.clear();
    output_head_ = 0;
    if (closing_) {
      shutdown(socket_.get(), SHUT_WR);
      linger_until_ = now + kLinger;
    }
  } else if (output_head_ >= kOutputHighWater) {
    // Drop what went out, so a reader that never quite catches up does not
    // make the buffer grow.
    output_.erase(output_.begin(), output_.begin() + static_cast<ptrdiff_t>(output_head_));
    output_head_ = 0;
  }
}

}  // namespace callsink::acdsim
