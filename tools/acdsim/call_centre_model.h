#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/acdsim/call_centre.h"
#include "tools/acdsim/day_profile.h"
#include "tools/acdsim/sim_event.h"
#include "tools/acdsim/sim_random.h"

namespace callsink::acdsim {

// A call centre's working day, reported as the events an ACD server sends.
//
// Calls come in at random, at a rate that follows the day profile, into a
// group chosen in proportion to its members. A call waits in its group's
// queue (first come, first served) until a member who is available takes it
// (the one idle longest), or until the caller's patience runs out and the
// call is abandoned. A talk lasts minutes, log-normally spread, so a few
// calls last far longer than most; wrap-up follows. Every quarter of an hour
// the roster puts as many agents on duty as the hour's calls need (see
// StaffFor) and someone for every group with members: agents log on, and
// others log off once their call or break is over. Agents on duty take a
// break of 5 to 15 minutes every one to two and a half hours, after their
// call if they are on one. Now and then the directory changes: a group, an
// agent or a membership is added or removed (a group once it has no
// members, a membership when its agent keeps another).
//
// An agent is in one state at a time (logged out, available, busy, wrap-up,
// paused) and the ACD reports it in each of the agent's groups: a change is a
// Status event for every membership whose status it changes. What the events
// say agrees: a Call event per state of a call (queued, connected, ended), a
// CDR at its end whose call time is the arrival, queue duration the wait and
// call duration the talk (answer to end), in whole seconds of the event
// times. Groups with calls and agents on a call are not removed.
//
// The model's clock is in milliseconds since 1970; it only moves forward.
// The same centre, parameters, random start and start time give the same
// events. Belongs to one thread.
class CallCentreModel {
 public:
  struct Parameters {
    // Calls per hour over all groups at the busiest time of the day; 0: as
    // many as the whole staff can answer well (DefaultCallsPerHour).
    double calls_per_hour = 0;
    double talk_seconds = 240;     // mean talk time
    double wrap_up_seconds = 30;   // mean wrap-up, each between half and 1.5 times it
    double patience_seconds = 90;  // mean wait before a caller hangs up
    double directory_changes_per_hour = 0.25;
    DayProfile profile = DayProfile::Standard();
    // The profile runs on local time: seconds east of UTC.
    int64_t utc_offset_seconds = 0;
  };

  CallCentreModel(CallCentre centre, const Parameters& parameters, uint64_t random_start,
                  uint64_t start_ms);

  // Calls per hour at the peak for which the roster puts all of `agents`
  // agents in `groups` groups on duty (StaffFor).
  static double DefaultCallsPerHour(size_t agents, size_t groups, const Parameters& parameters);
  // The agents the roster puts on duty for `erlangs` of calls (calls per
  // second times the handle time) in `groups` groups.
  static double StaffFor(double erlangs, size_t groups);

  // The next event, if it happens no later than `limit_ms`; the model runs up
  // to it. Otherwise nullopt, and the clock stands at `limit_ms` (unless it
  // was already later).
  std::optional<SimEvent> NextUntil(uint64_t limit_ms);
  // When the model next has something to do; no event comes before then.
  uint64_t next_due_ms() const;

  const CallCentre& centre() const { return centre_; }
  uint64_t now_ms() const { return now_ms_; }
  // The model's clock, seconds since 1970.
  uint32_t now() const { return static_cast<uint32_t>(now_ms_ / 1000); }

  // The text a call's number stands for in Call and CDR events: a GUID in
  // braces, 38 characters.
  static std::string CallId(uint64_t call_number);
  // The caller's number: "+49" and nine digits.
  static std::string Caller(uint64_t caller_number);

 private:
  enum class Job : uint8_t {
    kArrival,    // perhaps a call comes in; the next one is planned
    kAbandon,    // the caller of `subject` gives up, if still waiting
    kCallEnd,    // call `subject` ends
    kWrapUpEnd,  // agent `subject` finishes wrap-up
    kBreakDue,   // agent `subject` is due for a break
    kBreakEnd,   // agent `subject` is back from a break
    kLogOn,      // agent `subject` logs on, as the roster planned
    kRoster,     // the roster puts the hour's staff on duty
    kDirectory,  // the directory changes
  };
  struct Task {
    uint64_t at_ms;
    uint64_t order;  // keeps tasks due at the same time in the order planned
    Job job;
    uint64_t subject;
    uint32_t epoch;  // the agent slot's epoch when planned
    bool operator>(const Task& other) const {
      return at_ms != other.at_ms ? at_ms > other.at_ms : order > other.order;
    }
  };
  struct Call {
    uint64_t number = 0;
    uint64_t caller = 0;
    uint32_t group = CallCentre::kNone;
    uint32_t agent = CallCentre::kNone;
    uint64_t arrived_ms = 0;
    uint64_t answered_ms = 0;
  };
  // What the model knows of an agent slot beyond the directory.
  struct Agent {
    int32_t state = kLoggedOut;
    uint64_t since_ms = 0;    // in this state since
    uint64_t on_duty_ms = 0;  // logged on since (the roster sends the longest home first)
    uint64_t next_break_ms = 0;
    uint32_t epoch = 0;    // raised when the slot's agent is removed
    bool leaving = false;  // logs off once the call or break is over
    bool break_pending = false;
    bool log_on_planned = false;
  };

  void Plan(uint64_t at_ms, Job job, uint64_t subject = 0);
  void PlanForAgent(uint64_t at_ms, Job job, uint32_t agent);
  void Run(const Task& task);
  bool Current(const Task& task, int32_t state) const;
  void Emit(SimEvent event);

  void CallArrives();
  void CallerAbandons(uint64_t call_number);
  void CallEnds(uint64_t call_number);
  // The oldest call waiting in `group` goes to `agent`.
  void Answer(uint32_t group, uint32_t agent);
  void OfferToMembers(uint32_t group);
  void FindWork(uint32_t agent);
  void AgentFree(uint32_t agent);
  void BreakDue(uint32_t agent);
  void StartBreak(uint32_t agent);
  void BecomeAvailable(uint32_t agent);
  void LogOn(uint32_t agent);
  void LogOff(uint32_t agent);
  bool OnDuty(uint32_t agent) const;
  void ComeOnDuty(uint32_t agent);
  void GoOffDuty(uint32_t agent);
  void Roster();
  void SetState(uint32_t agent, int32_t state);

  void ChangeDirectory();
  bool AddGroup();
  bool RemoveGroup();
  bool AddAgent();
  bool RemoveAgent();
  bool AddMembership();
  bool RemoveMembership();
  void ReportMembership(uint32_t membership, int32_t update_state);

  SimEvent CallEvent(const Call& call, int32_t state, int32_t reason) const;
  SimEvent CdrEvent(const Call& call, int32_t reason) const;
  uint32_t RandomPresentGroup();
  uint32_t RandomPresentAgent();
  uint32_t RandomPresentMembership();
  double ProfileNow() const;
  static double HandleSeconds(const Parameters& parameters);
  uint64_t Minutes(double low, double high);
  void GrowTables();

  CallCentre centre_;
  const Parameters parameters_;
  SimRandom random_;
  const double peak_calls_per_hour_;
  uint64_t now_ms_;
  uint64_t next_order_ = 0;
  std::priority_queue<Task, std::vector<Task>, std::greater<>> tasks_;
  std::deque<SimEvent> pending_;
  std::unordered_map<uint64_t, Call> calls_;  // waiting and talking, by number
  std::vector<std::deque<uint64_t>> queues_;  // per group slot: waiting calls, oldest first
  std::vector<int32_t> talking_;              // per group slot: calls connected
  std::vector<Agent> agents_;                 // per agent slot
  uint64_t next_call_number_ = 1;
  size_t added_groups_ = 0;
  size_t added_agents_ = 0;
  const size_t initial_groups_;
  const size_t initial_agents_;
  const size_t initial_memberships_;
};

}  // namespace callsink::acdsim
