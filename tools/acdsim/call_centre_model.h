#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/acdsim/call_centre.h"
#include "tools/acdsim/sim_event.h"
#include "tools/acdsim/sim_random.h"

namespace callsink::acdsim {

// A call centre at work. Each step draws one thing that happens and reports
// it as events, changing the directory as it goes:
//   - a call comes into a group's queue (Call, state queued);
//   - an available member answers a queued call (Call connected; Status
//     busy);
//   - a talking call ends (Call ended; CDR; Status wrap-up);
//   - a caller gives up in the queue (Call ended, abandoned; CDR);
//   - an agent logs in or out, pauses, or ends wrap-up (Status);
//   - now and then the directory changes: a group, an agent or a membership
//     is added or removed (GroupUpdate, AgentUpdate, RelationUpdate; an
//     agent's removal first reports the end of each of its memberships).
// An agent takes one call at a time; groups and agents with calls in
// progress are not removed. The same start and centre give the same events.
//
// The model's clock starts at `start_time` and advances `step_ms`
// milliseconds per step, so that at a given event rate it keeps roughly in
// step with the wall clock.
class CallCentreModel {
 public:
  CallCentreModel(CallCentre centre, uint64_t random_start, uint32_t start_time, uint32_t step_ms);

  // The next event, running the model as far as needed.
  SimEvent Next();

  const CallCentre& centre() const { return centre_; }
  // The model's clock, seconds since 1970.
  uint32_t now() const { return static_cast<uint32_t>(clock_ms_ / 1000); }

  // The text a call's number stands for in Call and CDR events: a GUID in
  // braces, 38 characters.
  static std::string CallId(uint64_t call_number);
  // The caller's number: "+49" and nine digits.
  static std::string Caller(uint64_t caller_number);

 private:
  struct Call {
    uint64_t number = 0;
    uint64_t caller = 0;
    uint32_t group = CallCentre::kNone;
    uint32_t agent = CallCentre::kNone;
    uint32_t membership = CallCentre::kNone;
    uint32_t arrived = 0;
    uint32_t answered = 0;
  };

  // Each returns false when it found nothing to do.
  bool Step();
  bool CallArrives();
  bool CallIsAnswered();
  bool CallEnds();
  bool CallerAbandons();
  bool AgentChangesStatus();
  bool DirectoryChanges();
  bool AddGroup();
  bool RemoveGroup();
  bool AddAgent();
  bool RemoveAgent();
  bool AddMembership();
  bool RemoveMembership();

  void Emit(SimEvent event);
  SimEvent CallEvent(const Call& call, int32_t state, int32_t reason) const;
  SimEvent CdrEvent(const Call& call, int32_t reason) const;
  SimEvent StatusEvent(uint32_t membership, int32_t status);
  uint32_t RandomPresentGroup();
  uint32_t RandomPresentAgent();
  uint32_t RandomPresentMembership();
  bool GroupIsIdle(uint32_t group) const;

  CallCentre centre_;
  SimRandom random_;
  uint64_t clock_ms_;
  const uint32_t step_ms_;
  std::deque<SimEvent> pending_;
  std::vector<Call> queued_;
  std::vector<Call> talking_;
  std::vector<int32_t> queue_length_;    // per group slot
  std::vector<int32_t> calls_in_group_;  // per group slot: queued and talking
  std::vector<bool> agent_on_call_;      // per agent slot
  uint64_t next_call_number_ = 1;
  size_t added_groups_ = 0;
  size_t added_agents_ = 0;
  const size_t initial_groups_;
  const size_t initial_agents_;
  const size_t initial_memberships_;
};

}  // namespace callsink::acdsim
