#include "tools/acdsim/call_centre_model.h"

#include <algorithm>
#include <cstdio>

#include "tools/acdsim/centre_generator.h"

namespace callsink::acdsim {
namespace {

using wire::EventType;

// Directory changes keep the centre between half and twice its first size,
// with room to grow from an empty start.
constexpr size_t kMinimumGrowthRoom = 4;

size_t UpperLimit(size_t initial) { return std::max(2 * initial, kMinimumGrowthRoom); }
size_t LowerLimit(size_t initial) { return std::max<size_t>(initial / 2, 1); }

uint64_t Mix(uint64_t value) {
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ull;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebull;
  return value ^ (value >> 31);
}

template <typename Entry>
uint32_t RandomPresent(const std::vector<Entry>& slots, size_t present, SimRandom& random) {
  if (present == 0) return CallCentre::kNone;
  // Probe on from a random slot; removed slots are few next to present ones.
  const auto size = static_cast<uint32_t>(slots.size());
  const uint32_t start = random.Below(size);
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t slot = (start + i) % size;
    if (slots[slot].present) return slot;
  }
  return CallCentre::kNone;
}

template <typename Call>
Call TakeAt(std::vector<Call>& calls, size_t index) {
  Call call = calls[index];
  calls[index] = calls.back();
  calls.pop_back();
  return call;
}

}  // namespace

CallCentreModel::CallCentreModel(CallCentre centre, uint64_t random_start, uint32_t start_time,
                                 uint32_t step_ms)
    : centre_(std::move(centre)),
      random_(random_start),
      clock_ms_(uint64_t{start_time} * 1000),
      step_ms_(step_ms),
      queue_length_(centre_.groups().size(), 0),
      calls_in_group_(centre_.groups().size(), 0),
      agent_on_call_(centre_.agents().size(), false),
      initial_groups_(centre_.group_count()),
      initial_agents_(centre_.agent_count()),
      initial_memberships_(centre_.membership_count()) {}

std::string CallCentreModel::CallId(uint64_t call_number) {
  const uint64_t high = Mix(call_number);
  const uint64_t low = Mix(call_number ^ 0x5851f42d4c957f2dull);
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}",
                static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xffff),
                static_cast<unsigned>(high & 0xffff), static_cast<unsigned>(low >> 48),
                static_cast<unsigned long long>(low & 0xffffffffffffull));
  return text;
}

std::string CallCentreModel::Caller(uint64_t caller_number) {
  char text[16];
  std::snprintf(text, sizeof text, "+49%09llu",
                static_cast<unsigned long long>(caller_number % 1000000000ull));
  return text;
}

SimEvent CallCentreModel::Next() {
  while (pending_.empty()) {
    clock_ms_ += step_ms_;
    // Something is always possible (a call can come in, or a group be
    // added), but a single draw may find nothing to do.
    while (!Step()) {
    }
  }
  SimEvent event = pending_.front();
  pending_.pop_front();
  return event;
}

bool CallCentreModel::Step() {
  // Calls and status changes make up nearly all of a centre's day; the
  // directory changes about once in two hundred steps.
  const uint32_t roll = random_.Below(1000);
  if (roll < 280) return CallArrives();
  if (roll < 540) return CallIsAnswered();
  if (roll < 740) return CallEnds();
  if (roll < 780) return CallerAbandons();
  if (roll < 995) return AgentChangesStatus();
  return DirectoryChanges();
}

void CallCentreModel::Emit(SimEvent event) {
  event.time = now();
  pending_.push_back(event);
}

SimEvent CallCentreModel::CallEvent(const Call& call, int32_t state, int32_t reason) const {
  SimEvent event;
  event.type = EventType::kCall;
  event.group = call.group;
  event.agent = call.agent;
  event.code = state;
  event.close_reason = reason;
  event.calls_in_queue = queue_length_[call.group];
  event.call_number = call.number;
  return event;
}

SimEvent CallCentreModel::CdrEvent(const Call& call, int32_t reason) const {
  const bool answered = call.agent != CallCentre::kNone;
  SimEvent event;
  event.type = EventType::kCdr;
  event.group = call.group;
  event.agent = call.agent;
  event.code = kEnded;
  event.close_reason = reason;
  event.call_time = call.arrived;
  event.queue_duration = static_cast<int32_t>((answered ? call.answered : now()) - call.arrived);
  event.call_duration = answered ? static_cast<int32_t>(now() - call.answered) : 0;
  event.call_number = call.number;
  event.caller_number = call.caller;
  return event;
}

SimEvent CallCentreModel::StatusEvent(uint32_t membership, int32_t status) {
  centre_.SetStatus(membership, status);
  SimEvent event;
  event.type = EventType::kStatus;
  event.group = centre_.membership(membership).group;
  event.agent = centre_.membership(membership).agent;
  event.code = status;
  return event;
}

uint32_t CallCentreModel::RandomPresentGroup() {
  return RandomPresent(centre_.groups(), centre_.group_count(), random_);
}

uint32_t CallCentreModel::RandomPresentAgent() {
  return RandomPresent(centre_.agents(), centre_.agent_count(), random_);
}

uint32_t CallCentreModel::RandomPresentMembership() {
  return RandomPresent(centre_.memberships(), centre_.membership_count(), random_);
}

bool CallCentreModel::GroupIsIdle(uint32_t group) const { return calls_in_group_[group] == 0; }

bool CallCentreModel::CallArrives() {
  const uint32_t group = RandomPresentGroup();
  if (group == CallCentre::kNone) return false;
  if (queued_.size() >= 2 * centre_.membership_count() + kMinimumGrowthRoom) return false;
  Call call;
  call.number = next_call_number_++;
  call.caller = random_.Next();
  call.group = group;
  call.arrived = now();
  queued_.push_back(call);
  ++queue_length_[group];
  ++calls_in_group_[group];
  Emit(CallEvent(call, kQueued, kStillOpen));
  return true;
}

bool CallCentreModel::CallIsAnswered() {
  if (queued_.empty()) return false;
  const size_t index = random_.Below(static_cast<uint32_t>(queued_.size()));
  const std::vector<uint32_t>& members = centre_.group(queued_[index].group).members;
  if (members.empty()) return false;
  const auto count = static_cast<uint32_t>(members.size());
  const uint32_t start = random_.Below(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t membership = members[(start + i) % count];
    const CallCentre::Membership& member = centre_.membership(membership);
    if (member.status != kAvailable || agent_on_call_[member.agent]) continue;
    Call call = TakeAt(queued_, index);
    --queue_length_[call.group];
    call.agent = member.agent;
    call.membership = membership;
    call.answered = now();
    agent_on_call_[call.agent] = true;
    talking_.push_back(call);
    Emit(CallEvent(call, kConnected, kStillOpen));
    Emit(StatusEvent(membership, kBusy));
    return true;
  }
  return false;
}

bool CallCentreModel::CallEnds() {
  if (talking_.empty()) return false;
  const Call call = TakeAt(talking_, random_.Below(static_cast<uint32_t>(talking_.size())));
  --calls_in_group_[call.group];
  agent_on_call_[call.agent] = false;
  const int32_t reason = random_.Percent(70) ? kCallerHungUp : kAgentHungUp;
  Emit(CallEvent(call, kEnded, reason));
  Emit(CdrEvent(call, reason));
  Emit(StatusEvent(call.membership, kWrapUp));
  return true;
}

bool CallCentreModel::CallerAbandons() {
  if (queued_.empty()) return false;
  const Call call = TakeAt(queued_, random_.Below(static_cast<uint32_t>(queued_.size())));
  --queue_length_[call.group];
  --calls_in_group_[call.group];
  Emit(CallEvent(call, kEnded, kAbandoned));
  Emit(CdrEvent(call, kAbandoned));
  return true;
}

bool CallCentreModel::AgentChangesStatus() {
  const uint32_t membership = RandomPresentMembership();
  if (membership == CallCentre::kNone) return false;
  int32_t next;
  switch (centre_.membership(membership).status) {
    case kBusy:
      return false;  // ends with the call
    case kAvailable:
      next = random_.Percent(75) ? kPaused : kLoggedOut;
      break;
    default:  // logged out, wrap-up, paused, or a code of the scenario's own
      next = kAvailable;
      break;
  }
  Emit(StatusEvent(membership, next));
  return true;
}

bool CallCentreModel::DirectoryChanges() {
  switch (random_.Below(6)) {
    case 0:
      return AddGroup();
    case 1:
      return RemoveGroup();
    case 2:
      return AddAgent();
    case 3:
      return RemoveAgent();
    case 4:
      return AddMembership();
    default:
      return RemoveMembership();
  }
}

bool CallCentreModel::AddGroup() {
  if (centre_.group_count() >= UpperLimit(initial_groups_)) return false;
  std::string name;
  do {
    name = CentreGenerator::GroupName(initial_groups_ + added_groups_++);
  } while (centre_.FindGroup(name) != CallCentre::kNone);
  const uint32_t group = centre_.AddGroup(std::move(name));
  if (group >= queue_length_.size()) {
    queue_length_.resize(group + 1, 0);
    calls_in_group_.resize(group + 1, 0);
  }
  SimEvent event;
  event.type = EventType::kGroupUpdate;
  event.group = group;
  event.code = 1;
  Emit(event);
  return true;
}

bool CallCentreModel::RemoveGroup() {
  if (centre_.group_count() <= LowerLimit(initial_groups_)) return false;
  const uint32_t group = RandomPresentGroup();
  if (!GroupIsIdle(group)) return false;
  // The group's slot keeps its name until a later step reuses it, so the
  // event can still be encoded after the removal.
  SimEvent event;
  event.type = EventType::kGroupUpdate;
  event.group = group;
  event.code = 0;
  Emit(event);
  centre_.RemoveGroup(group);
  return true;
}

bool CallCentreModel::AddAgent() {
  if (centre_.agent_count() >= UpperLimit(initial_agents_)) return false;
  std::string name;
  do {
    name = CentreGenerator::AgentName(initial_agents_ + added_agents_++);
  } while (centre_.FindAgent(name) != CallCentre::kNone);
  const uint32_t agent = centre_.AddAgent(std::move(name), CentreGenerator::FullName(random_));
  if (agent >= agent_on_call_.size()) agent_on_call_.resize(agent + 1, false);
  SimEvent added;
  added.type = EventType::kAgentUpdate;
  added.agent = agent;
  added.code = 1;
  Emit(added);

  const uint32_t group = RandomPresentGroup();
  if (group == CallCentre::kNone) return true;
  centre_.AddMembership(group, agent, kLoggedOut);
  SimEvent joined;
  joined.type = EventType::kRelationUpdate;
  joined.group = group;
  joined.agent = agent;
  joined.code = 1;
  Emit(joined);
  return true;
}

bool CallCentreModel::RemoveAgent() {
  if (centre_.agent_count() <= LowerLimit(initial_agents_)) return false;
  const uint32_t agent = RandomPresentAgent();
  if (agent_on_call_[agent]) return false;
  for (const CallCentre::Membership& membership : centre_.memberships()) {
    if (!membership.present || membership.agent != agent) continue;
    SimEvent left;
    left.type = EventType::kRelationUpdate;
    left.group = membership.group;
    left.agent = agent;
    left.code = 0;
    Emit(left);
  }
  SimEvent removed;
  removed.type = EventType::kAgentUpdate;
  removed.agent = agent;
  removed.code = 0;
  Emit(removed);
  centre_.RemoveAgent(agent);
  return true;
}

bool CallCentreModel::AddMembership() {
  const uint32_t group = RandomPresentGroup();
  const uint32_t agent = RandomPresentAgent();
  if (group == CallCentre::kNone || agent == CallCentre::kNone) return false;
  if (centre_.FindMembership(group, agent) != CallCentre::kNone) return false;
  if (centre_.membership_count() >= UpperLimit(initial_memberships_)) return false;
  centre_.AddMembership(group, agent, kLoggedOut);
  SimEvent joined;
  joined.type = EventType::kRelationUpdate;
  joined.group = group;
  joined.agent = agent;
  joined.code = 1;
  Emit(joined);
  return true;
}

bool CallCentreModel::RemoveMembership() {
  if (centre_.membership_count() <= LowerLimit(initial_memberships_)) return false;
  const uint32_t membership = RandomPresentMembership();
  const CallCentre::Membership member = centre_.membership(membership);
  if (agent_on_call_[member.agent]) return false;
  SimEvent left;
  left.type = EventType::kRelationUpdate;
  left.group = member.group;
  left.agent = member.agent;
  left.code = 0;
  Emit(left);
  centre_.RemoveMembership(membership);
  return true;
}

}  // namespace callsink::acdsim
