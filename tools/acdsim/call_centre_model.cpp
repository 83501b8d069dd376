#include "tools/acdsim/call_centre_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "tools/acdsim/centre_generator.h"

namespace callsink::acdsim {
namespace {

using wire::EventType;

constexpr double kMsPerSecond = 1000;
constexpr double kMsPerMinute = 60 * kMsPerSecond;
constexpr double kMsPerHour = 60 * kMsPerMinute;
constexpr int64_t kSecondsPerDay = 86400;

// Talk times: log-normal with this spread (of the logarithm), so that the
// median call is about three quarters of the mean and one in twenty lasts
// more than two and a half times the mean; cut to a sensible range.
constexpr double kTalkSpread = 0.8;
constexpr double kShortestTalkSeconds = 5;
constexpr double kLongestTalkInMeans = 20;
// The share of callers who end a call themselves; the agent ends the rest.
constexpr uint32_t kCallerHangsUpPercent = 70;
// The roster staffs each group for its calls by the square-root rule: the
// load in erlangs plus this many times its square root, which answers most
// callers at once even in small groups; and as many again as are away on a
// break at any time.
constexpr double kSafetyStaff = 1.0;
constexpr double kShareNotOnBreak = 0.9;
// The roster's rhythm, and how far log-ons spread after it.
constexpr double kRosterMinutes = 15;
constexpr double kLogOnSpreadMinutes = 10;
// Breaks: every one to two and a half hours on duty, 5 to 15 minutes long.
constexpr double kBreakEveryMinMinutes = 60;
constexpr double kBreakEveryMaxMinutes = 150;
constexpr double kBreakMinMinutes = 5;
constexpr double kBreakMaxMinutes = 15;
// A start-up agent's time on duty so far, for the roster's order.
constexpr double kStartOnDutyMaxMinutes = 240;

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

uint64_t Ms(double milliseconds) { return static_cast<uint64_t>(std::llround(milliseconds)); }

uint32_t Seconds(uint64_t ms) { return static_cast<uint32_t>(ms / 1000); }

size_t GroupsWithMembers(const CallCentre& centre) {
  return static_cast<size_t>(
      std::count_if(centre.groups().begin(), centre.groups().end(),
                    [](const CallCentre::Group& group) { return !group.members.empty(); }));
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

}  // namespace

double CallCentreModel::StaffFor(double erlangs, size_t groups) {
  return (erlangs + kSafetyStaff * std::sqrt(erlangs * static_cast<double>(groups))) /
         kShareNotOnBreak;
}

double CallCentreModel::DefaultCallsPerHour(size_t agents, size_t groups,
                                            const Parameters& parameters) {
  // The load that StaffFor staffs with every agent: the positive root of
  // e + k sqrt(e g) = a.
  const double working = kShareNotOnBreak * static_cast<double>(std::max<size_t>(agents, 1));
  const double k = kSafetyStaff * std::sqrt(static_cast<double>(std::max<size_t>(groups, 1)));
  const double root = (std::sqrt(k * k + 4 * working) - k) / 2;
  return root * root * 3600 / HandleSeconds(parameters);
}

double CallCentreModel::HandleSeconds(const Parameters& parameters) {
  return parameters.talk_seconds + parameters.wrap_up_seconds;
}

CallCentreModel::CallCentreModel(CallCentre centre, const Parameters& parameters,
                                 uint64_t random_start, uint64_t start_ms)
    : centre_(std::move(centre)),
      parameters_(parameters),
      random_(random_start),
      peak_calls_per_hour_(
          parameters.calls_per_hour > 0
              ? parameters.calls_per_hour
              : DefaultCallsPerHour(centre_.agent_count(), GroupsWithMembers(centre_), parameters)),
      now_ms_(start_ms),
      initial_groups_(centre_.group_count()),
      initial_agents_(centre_.agent_count()),
      initial_memberships_(centre_.membership_count()) {
  GrowTables();
  // Each agent starts in the status of its first membership; one that starts
  // busy or in wrap-up has just finished a call, one in a status of the
  // scenario's own is on a break.
  for (uint32_t slot = 0; slot < agents_.size(); ++slot) {
    const CallCentre::Agent& agent = centre_.agent(slot);
    if (!agent.present) continue;
    const int32_t status = agent.memberships.empty()
                               ? kLoggedOut
                               : centre_.membership(agent.memberships.front()).status;
    Agent& work = agents_[slot];
    work.on_duty_ms = start_ms - std::min(start_ms, Minutes(0, kStartOnDutyMaxMinutes));
    switch (status) {
      case kLoggedOut:
        SetState(slot, kLoggedOut);
        continue;
      case kAvailable:
        SetState(slot, kAvailable);
        break;
      case kBusy:
      case kWrapUp:
        SetState(slot, kWrapUp);
        PlanForAgent(start_ms + Ms(random_.Uniform() * parameters_.wrap_up_seconds * kMsPerSecond),
                     Job::kWrapUpEnd, slot);
        break;
      default:
        SetState(slot, kPaused);
        PlanForAgent(start_ms + Minutes(0, kBreakMaxMinutes), Job::kBreakEnd, slot);
        break;
    }
    work.next_break_ms = start_ms + Minutes(0, kBreakEveryMaxMinutes);
    PlanForAgent(work.next_break_ms, Job::kBreakDue, slot);
  }
  Plan(start_ms, Job::kRoster);
  Plan(start_ms, Job::kArrival);
  if (parameters_.directory_changes_per_hour > 0) {
    Plan(start_ms + Ms(random_.Exponential(kMsPerHour / parameters_.directory_changes_per_hour)),
         Job::kDirectory);
  }
}

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

// ---- The clock and the tasks ------------------------------------------------------

std::optional<SimEvent> CallCentreModel::NextUntil(uint64_t limit_ms) {
  while (pending_.empty()) {
    if (tasks_.empty() || tasks_.top().at_ms > limit_ms) {
      now_ms_ = std::max(now_ms_, limit_ms);
      return std::nullopt;
    }
    const Task task = tasks_.top();
    tasks_.pop();
    now_ms_ = std::max(now_ms_, task.at_ms);
    Run(task);
  }
  SimEvent event = pending_.front();
  pending_.pop_front();
  return event;
}

uint64_t CallCentreModel::next_due_ms() const {
  if (!pending_.empty()) return now_ms_;
  return tasks_.empty() ? UINT64_MAX : tasks_.top().at_ms;
}

void CallCentreModel::Plan(uint64_t at_ms, Job job, uint64_t subject) {
  tasks_.push(Task{at_ms, next_order_++, job, subject, 0});
}

void CallCentreModel::PlanForAgent(uint64_t at_ms, Job job, uint32_t agent) {
  tasks_.push(Task{at_ms, next_order_++, job, agent, agents_[agent].epoch});
}

// Whether an agent's task still applies: the same agent, still in the state
// the task ends.
bool CallCentreModel::Current(const Task& task, int32_t state) const {
  const Agent& agent = agents_[task.subject];
  return agent.epoch == task.epoch && agent.state == state;
}

void CallCentreModel::Run(const Task& task) {
  const auto agent = static_cast<uint32_t>(task.subject);
  switch (task.job) {
    case Job::kArrival:
      Plan(now_ms_ + Ms(random_.Exponential(kMsPerHour / peak_calls_per_hour_)), Job::kArrival);
      // Thinning: drawn at the peak rate, kept in proportion to the hour's.
      if (random_.Uniform() < ProfileNow()) CallArrives();
      return;
    case Job::kAbandon:
      return CallerAbandons(task.subject);
    case Job::kCallEnd:
      return CallEnds(task.subject);
    case Job::kWrapUpEnd:
      if (Current(task, kWrapUp)) AgentFree(agent);
      return;
    case Job::kBreakDue:
      if (agents_[agent].epoch == task.epoch && agents_[agent].next_break_ms == task.at_ms) {
        BreakDue(agent);
      }
      return;
    case Job::kBreakEnd:
      if (!Current(task, kPaused)) return;
      if (agents_[agent].leaving) return LogOff(agent);
      agents_[agent].next_break_ms =
          now_ms_ + Minutes(kBreakEveryMinMinutes, kBreakEveryMaxMinutes);
      PlanForAgent(agents_[agent].next_break_ms, Job::kBreakDue, agent);
      return BecomeAvailable(agent);
    case Job::kLogOn:
      if (Current(task, kLoggedOut) && agents_[agent].log_on_planned) LogOn(agent);
      return;
    case Job::kRoster:
      Plan(now_ms_ + Ms(kRosterMinutes * kMsPerMinute), Job::kRoster);
      return Roster();
    case Job::kDirectory:
      Plan(now_ms_ + Ms(random_.Exponential(kMsPerHour / parameters_.directory_changes_per_hour)),
           Job::kDirectory);
      return ChangeDirectory();
  }
}

double CallCentreModel::ProfileNow() const {
  const int64_t local = static_cast<int64_t>(now_ms_ / 1000) + parameters_.utc_offset_seconds;
  return parameters_.profile.At(
      static_cast<uint32_t>(((local % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay));
}

uint64_t CallCentreModel::Minutes(double low, double high) {
  return Ms(random_.Between(low, high) * kMsPerMinute);
}

void CallCentreModel::GrowTables() {
  queues_.resize(std::max(queues_.size(), centre_.groups().size()));
  talking_.resize(queues_.size(), 0);
  agents_.resize(std::max(agents_.size(), centre_.agents().size()));
}

void CallCentreModel::Emit(SimEvent event) {
  event.time = now();
  pending_.push_back(event);
}

// ---- Calls -------------------------------------------------------------------------

void CallCentreModel::CallArrives() {
  // A random membership picks each group in proportion to its members.
  const uint32_t membership = RandomPresentMembership();
  const uint32_t group =
      membership != CallCentre::kNone ? centre_.membership(membership).group : RandomPresentGroup();
  if (group == CallCentre::kNone) return;
  Call call;
  call.number = next_call_number_++;
  call.caller = random_.Next();
  call.group = group;
  call.arrived_ms = now_ms_;
  calls_.emplace(call.number, call);
  queues_[group].push_back(call.number);
  Emit(CallEvent(call, kQueued, kStillOpen));
  Plan(now_ms_ + Ms(random_.Exponential(parameters_.patience_seconds * kMsPerSecond)),
       Job::kAbandon, call.number);
  OfferToMembers(group);
}

void CallCentreModel::OfferToMembers(uint32_t group) {
  if (queues_[group].empty()) return;
  uint32_t idlest = CallCentre::kNone;
  for (uint32_t membership : centre_.group(group).members) {
    const uint32_t agent = centre_.membership(membership).agent;
    if (agents_[agent].state != kAvailable) continue;
    if (idlest == CallCentre::kNone || agents_[agent].since_ms < agents_[idlest].since_ms) {
      idlest = agent;
    }
  }
  if (idlest != CallCentre::kNone) Answer(group, idlest);
}

void CallCentreModel::FindWork(uint32_t agent) {
  uint32_t oldest_group = CallCentre::kNone;
  uint64_t oldest_arrival = UINT64_MAX;
  for (uint32_t membership : centre_.agent(agent).memberships) {
    const uint32_t group = centre_.membership(membership).group;
    if (queues_[group].empty()) continue;
    const uint64_t arrived = calls_.at(queues_[group].front()).arrived_ms;
    if (arrived < oldest_arrival) {
      oldest_arrival = arrived;
      oldest_group = group;
    }
  }
  if (oldest_group != CallCentre::kNone) Answer(oldest_group, agent);
}

void CallCentreModel::Answer(uint32_t group, uint32_t agent) {
  Call& call = calls_.at(queues_[group].front());
  queues_[group].pop_front();
  call.agent = agent;
  call.answered_ms = now_ms_;
  ++talking_[group];
  Emit(CallEvent(call, kConnected, kStillOpen));
  SetState(agent, kBusy);
  const double talk_seconds =
      std::clamp(random_.LogNormal(parameters_.talk_seconds, kTalkSpread), kShortestTalkSeconds,
                 kLongestTalkInMeans * parameters_.talk_seconds);
  Plan(now_ms_ + Ms(talk_seconds * kMsPerSecond), Job::kCallEnd, call.number);
}

void CallCentreModel::CallerAbandons(uint64_t call_number) {
  const auto found = calls_.find(call_number);
  if (found == calls_.end() || found->second.agent != CallCentre::kNone) return;
  const Call call = found->second;
  calls_.erase(found);
  std::deque<uint64_t>& queue = queues_[call.group];
  queue.erase(std::find(queue.begin(), queue.end(), call_number));
  Emit(CallEvent(call, kEnded, kAbandoned));
  Emit(CdrEvent(call, kAbandoned));
}

void CallCentreModel::CallEnds(uint64_t call_number) {
  const Call call = calls_.at(call_number);
  calls_.erase(call_number);
  --talking_[call.group];
  const int32_t reason = random_.Percent(kCallerHangsUpPercent) ? kCallerHungUp : kAgentHungUp;
  Emit(CallEvent(call, kEnded, reason));
  Emit(CdrEvent(call, reason));
  SetState(call.agent, kWrapUp);
  PlanForAgent(now_ms_ + Ms(random_.Between(0.5, 1.5) * parameters_.wrap_up_seconds * kMsPerSecond),
               Job::kWrapUpEnd, call.agent);
}

SimEvent CallCentreModel::CallEvent(const Call& call, int32_t state, int32_t reason) const {
  SimEvent event;
  event.type = EventType::kCall;
  event.group = call.group;
  event.agent = call.agent;
  event.code = state;
  event.close_reason = reason;
  event.calls_in_queue = static_cast<int32_t>(queues_[call.group].size());
  event.call_number = call.number;
  return event;
}

SimEvent CallCentreModel::CdrEvent(const Call& call, int32_t reason) const {
  // In whole seconds of the event times, so that arrival, wait and talk add
  // up to the end.
  const bool answered = call.agent != CallCentre::kNone;
  const uint32_t arrived = Seconds(call.arrived_ms);
  const uint32_t left_queue = answered ? Seconds(call.answered_ms) : now();
  SimEvent event;
  event.type = EventType::kCdr;
  event.group = call.group;
  event.agent = call.agent;
  event.code = kEnded;
  event.close_reason = reason;
  event.call_time = arrived;
  event.queue_duration = static_cast<int32_t>(left_queue - arrived);
  event.call_duration = answered ? static_cast<int32_t>(now() - left_queue) : 0;
  event.call_number = call.number;
  event.caller_number = call.caller;
  return event;
}

// ---- Agents ------------------------------------------------------------------------

void CallCentreModel::SetState(uint32_t agent, int32_t state) {
  agents_[agent].state = state;
  agents_[agent].since_ms = now_ms_;
  for (uint32_t membership : centre_.agent(agent).memberships) {
    if (centre_.membership(membership).status == state) continue;
    centre_.SetStatus(membership, state);
    SimEvent event;
    event.type = EventType::kStatus;
    event.group = centre_.membership(membership).group;
    event.agent = agent;
    event.code = state;
    Emit(event);
  }
}

void CallCentreModel::AgentFree(uint32_t agent) {
  if (agents_[agent].leaving) return LogOff(agent);
  if (agents_[agent].break_pending) return StartBreak(agent);
  BecomeAvailable(agent);
}

void CallCentreModel::BreakDue(uint32_t agent) {
  switch (agents_[agent].state) {
    case kAvailable:
      return StartBreak(agent);
    case kBusy:
    case kWrapUp:
      agents_[agent].break_pending = true;  // after this call
      return;
    default:
      return;  // logged out or already away
  }
}

void CallCentreModel::StartBreak(uint32_t agent) {
  agents_[agent].break_pending = false;
  SetState(agent, kPaused);
  PlanForAgent(now_ms_ + Minutes(kBreakMinMinutes, kBreakMaxMinutes), Job::kBreakEnd, agent);
}

void CallCentreModel::BecomeAvailable(uint32_t agent) {
  SetState(agent, kAvailable);
  FindWork(agent);
}

void CallCentreModel::LogOn(uint32_t agent) {
  Agent& work = agents_[agent];
  work.log_on_planned = false;
  work.leaving = false;
  work.on_duty_ms = now_ms_;
  work.next_break_ms = now_ms_ + Minutes(kBreakEveryMinMinutes, kBreakEveryMaxMinutes);
  PlanForAgent(work.next_break_ms, Job::kBreakDue, agent);
  BecomeAvailable(agent);
}

void CallCentreModel::LogOff(uint32_t agent) {
  agents_[agent].leaving = false;
  agents_[agent].break_pending = false;
  SetState(agent, kLoggedOut);
}

bool CallCentreModel::OnDuty(uint32_t agent) const {
  const Agent& work = agents_[agent];
  return work.state != kLoggedOut ? !work.leaving : work.log_on_planned;
}

void CallCentreModel::ComeOnDuty(uint32_t agent) {
  Agent& work = agents_[agent];
  if (work.state != kLoggedOut) {
    work.leaving = false;
    return;
  }
  work.log_on_planned = true;
  PlanForAgent(now_ms_ + Minutes(0, kLogOnSpreadMinutes), Job::kLogOn, agent);
}

void CallCentreModel::GoOffDuty(uint32_t agent) {
  Agent& work = agents_[agent];
  if (work.state == kLoggedOut) {
    work.log_on_planned = false;
  } else if (work.state == kAvailable) {
    LogOff(agent);
  } else {
    work.leaving = true;  // after the call or break
  }
}

void CallCentreModel::Roster() {
  std::vector<std::pair<uint64_t, uint32_t>> on_duty;   // (first to go home, agent)
  std::vector<std::pair<uint64_t, uint32_t>> off_duty;  // (first to come, agent)
  std::vector<int> covering(queues_.size(), 0);         // per group: members on duty
  for (uint32_t slot = 0; slot < agents_.size(); ++slot) {
    if (!centre_.agent(slot).present) continue;
    const Agent& work = agents_[slot];
    const bool logged_on = work.state != kLoggedOut;
    if (OnDuty(slot)) {
      // Planned log-ons are the first to be called off.
      on_duty.emplace_back(logged_on ? work.on_duty_ms + 1 : 0, slot);
      for (uint32_t membership : centre_.agent(slot).memberships) {
        ++covering[centre_.membership(membership).group];
      }
    } else {
      // Agents still finishing before going home are the first to stay on.
      off_duty.emplace_back(logged_on ? 0 : work.since_ms + 1, slot);
    }
  }
  const double erlangs = peak_calls_per_hour_ * ProfileNow() * HandleSeconds(parameters_) / 3600;
  const size_t wanted =
      std::min(on_duty.size() + off_duty.size(),
               static_cast<size_t>(std::ceil(StaffFor(erlangs, GroupsWithMembers(centre_)))));
  std::sort(on_duty.begin(), on_duty.end());
  std::sort(off_duty.begin(), off_duty.end());
  const auto memberships = [this](uint32_t agent) -> const std::vector<uint32_t>& {
    return centre_.agent(agent).memberships;
  };
  const auto group_of = [this](uint32_t membership) {
    return centre_.membership(membership).group;
  };
  size_t count = on_duty.size();
  // Every group with members keeps someone on duty, then the hour's share.
  for (const bool covering_only : {true, false}) {
    for (const auto& [order, agent] : off_duty) {
      if (OnDuty(agent) || (!covering_only && count >= wanted)) continue;
      const auto& own = memberships(agent);
      if (covering_only && std::none_of(own.begin(), own.end(), [&](uint32_t membership) {
            return covering[group_of(membership)] == 0;
          })) {
        continue;
      }
      ComeOnDuty(agent);
      ++count;
      for (uint32_t membership : own) ++covering[group_of(membership)];
    }
  }
  for (const auto& [order, agent] : on_duty) {
    if (count <= wanted) break;
    const auto& own = memberships(agent);
    if (std::any_of(own.begin(), own.end(),
                    [&](uint32_t membership) { return covering[group_of(membership)] <= 1; })) {
      continue;
    }
    GoOffDuty(agent);
    --count;
    for (uint32_t membership : own) --covering[group_of(membership)];
  }
}

// ---- The directory -----------------------------------------------------------------

uint32_t CallCentreModel::RandomPresentGroup() {
  return RandomPresent(centre_.groups(), centre_.group_count(), random_);
}

uint32_t CallCentreModel::RandomPresentAgent() {
  return RandomPresent(centre_.agents(), centre_.agent_count(), random_);
}

uint32_t CallCentreModel::RandomPresentMembership() {
  return RandomPresent(centre_.memberships(), centre_.membership_count(), random_);
}

void CallCentreModel::ChangeDirectory() {
  switch (random_.Below(6)) {
    case 0:
      AddGroup();
      return;
    case 1:
      RemoveGroup();
      return;
    case 2:
      AddAgent();
      return;
    case 3:
      RemoveAgent();
      return;
    case 4:
      AddMembership();
      return;
    default:
      RemoveMembership();
      return;
  }
}

bool CallCentreModel::AddGroup() {
  if (centre_.group_count() >= UpperLimit(initial_groups_)) return false;
  std::string name;
  do {
    name = CentreGenerator::GroupName(initial_groups_ + added_groups_++);
  } while (centre_.FindGroup(name) != CallCentre::kNone);
  SimEvent event;
  event.type = EventType::kGroupUpdate;
  event.group = centre_.AddGroup(std::move(name));
  event.code = 1;
  GrowTables();
  Emit(event);
  return true;
}

bool CallCentreModel::RemoveGroup() {
  if (centre_.group_count() <= LowerLimit(initial_groups_)) return false;
  // Only a group whose members all moved on, with no call left.
  const uint32_t group = RandomPresentGroup();
  if (!centre_.group(group).members.empty() || !queues_[group].empty() || talking_[group] > 0) {
    return false;
  }
  // The group's slot keeps its name until a later change reuses it, so the
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
  GrowTables();
  agents_[agent].since_ms = now_ms_;
  SimEvent added;
  added.type = EventType::kAgentUpdate;
  added.agent = agent;
  added.code = 1;
  Emit(added);
  const uint32_t group = RandomPresentGroup();
  if (group != CallCentre::kNone)
    ReportMembership(centre_.AddMembership(group, agent, kLoggedOut), 1);
  return true;
}

bool CallCentreModel::RemoveAgent() {
  if (centre_.agent_count() <= LowerLimit(initial_agents_)) return false;
  const uint32_t agent = RandomPresentAgent();
  const int32_t state = agents_[agent].state;
  if (state == kBusy || state == kWrapUp) return false;
  for (uint32_t membership : centre_.agent(agent).memberships) ReportMembership(membership, 0);
  SimEvent removed;
  removed.type = EventType::kAgentUpdate;
  removed.agent = agent;
  removed.code = 0;
  Emit(removed);
  centre_.RemoveAgent(agent);
  // Tasks planned for the agent no longer apply, nor to whoever gets the slot.
  agents_[agent] = Agent{.epoch = agents_[agent].epoch + 1};
  return true;
}

bool CallCentreModel::AddMembership() {
  const uint32_t group = RandomPresentGroup();
  const uint32_t agent = RandomPresentAgent();
  if (group == CallCentre::kNone || agent == CallCentre::kNone) return false;
  if (centre_.FindMembership(group, agent) != CallCentre::kNone) return false;
  if (centre_.membership_count() >= UpperLimit(initial_memberships_)) return false;
  ReportMembership(centre_.AddMembership(group, agent, agents_[agent].state), 1);
  OfferToMembers(group);
  return true;
}

bool CallCentreModel::RemoveMembership() {
  if (centre_.membership_count() <= LowerLimit(initial_memberships_)) return false;
  // An agent leaves a group for another, not for none, and not on a call.
  const uint32_t membership = RandomPresentMembership();
  const uint32_t agent = centre_.membership(membership).agent;
  if (centre_.agent(agent).memberships.size() < 2) return false;
  if (agents_[agent].state == kBusy || agents_[agent].state == kWrapUp) return false;
  ReportMembership(membership, 0);
  centre_.RemoveMembership(membership);
  return true;
}

// A RelationUpdate; a new membership also gets its agent's status.
void CallCentreModel::ReportMembership(uint32_t membership, int32_t update_state) {
  SimEvent event;
  event.type = EventType::kRelationUpdate;
  event.group = centre_.membership(membership).group;
  event.agent = centre_.membership(membership).agent;
  event.code = update_state;
  Emit(event);
  if (update_state == 0) return;
  event.type = EventType::kStatus;
  event.code = centre_.membership(membership).status;
  Emit(event);
}

}  // namespace callsink::acdsim
