#include "tools/acdsim/call_centre_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/acdsim/centre_generator.h"

namespace callsink::acdsim {
namespace {

using wire::EventType;

std::string Describe(const SimEvent& event, const CallCentre& centre) {
  std::string text = std::to_string(static_cast<int>(event.type)) + "@" +
                     std::to_string(event.time) + " " + std::to_string(event.code);
  if (event.group != CallCentre::kNone) text += " " + centre.group(event.group).name;
  if (event.agent != CallCentre::kNone) text += " " + centre.agent(event.agent).name;
  return text;
}

TEST(CentreGeneratorTest, GeneratesTheAskedSizesTheSameWayEachTime) {
  const CallCentre centre = CentreGenerator::Generate(5, 40, 9);
  EXPECT_EQ(centre.group_count(), 5u);
  EXPECT_EQ(centre.agent_count(), 40u);
  EXPECT_EQ(centre.group(0).name, "Sales");
  EXPECT_EQ(centre.agent(0).name, "1001");
  EXPECT_EQ(centre.agent(39).name, "1040");
  for (const CallCentre::Group& group : centre.groups()) EXPECT_FALSE(group.members.empty());
  for (const CallCentre::Agent& agent : centre.agents()) {
    EXPECT_LE(agent.full_name.size(), 15u);
    EXPECT_NE(agent.full_name.find(' '), std::string::npos);
  }
  const CallCentre again = CentreGenerator::Generate(5, 40, 9);
  EXPECT_EQ(again.membership_count(), centre.membership_count());
  EXPECT_EQ(again.agent(17).full_name, centre.agent(17).full_name);
  EXPECT_EQ(CentreGenerator::GroupName(16), "Queue17");
}

// Monday 3 June 2024, 00:00 UTC, in milliseconds.
constexpr uint64_t kMonday = 1717372800000;
constexpr uint64_t kHourMs = 3600000;

TEST(CallCentreModelTest, SameStartGivesTheSameEventsAndAnotherStartOthers) {
  const CallCentre centre = CentreGenerator::Generate(3, 12, 1);
  const auto run = [&](uint64_t start) {
    CallCentreModel model(centre, {}, start, kMonday + 9 * kHourMs);
    std::string events;
    while (const auto event = model.NextUntil(kMonday + 11 * kHourMs)) {
      events += Describe(*event, model.centre()) + ";";
    }
    return events;
  };
  EXPECT_EQ(run(5), run(5));
  EXPECT_NE(run(5), run(6));
}

TEST(CallCentreModelTest, CallIdsAreGuidsAndCallersPhoneNumbers) {
  const std::string id = CallCentreModel::CallId(1);
  EXPECT_EQ(id.size(), 38u);
  EXPECT_EQ(id.front(), '{');
  EXPECT_EQ(id[9], '-');
  EXPECT_NE(CallCentreModel::CallId(2), id);
  EXPECT_EQ(CallCentreModel::Caller(42), "+49000000042");
}

// Follows the events as a collector sees them, by name, and checks each one
// against what the events before it said.
class EventAudit {
 public:
  using Membership = std::pair<std::string, std::string>;  // group, agent

  explicit EventAudit(const CallCentre& centre) {
    for (const CallCentre::Membership& member : centre.memberships()) {
      if (member.present) {
        status_[{centre.group(member.group).name, centre.agent(member.agent).name}] = member.status;
      }
    }
  }

  void Check(const SimEvent& event, const CallCentre& centre) {
    ASSERT_GE(event.time, last_time_) << "the clock never runs back";
    last_time_ = event.time;
    const std::string group =
        event.group == CallCentre::kNone ? "" : centre.group(event.group).name;
    const std::string agent =
        event.agent == CallCentre::kNone ? "" : centre.agent(event.agent).name;
    if (ended_) {
      ASSERT_EQ(event.type, EventType::kCdr) << "a CDR follows the end of a call";
    }
    switch (event.type) {
      case EventType::kStatus:
        ASSERT_TRUE(status_.count({group, agent})) << "status of a member";
        EXPECT_EQ(on_call_.count(agent) != 0, event.code == kBusy)
            << "busy exactly while on a call";
        if (wrapping_up_.erase({group, agent}) != 0) {
          EXPECT_EQ(event.code, kWrapUp) << "wrap-up follows a call";
        }
        status_[{group, agent}] = event.code;
        ++statuses[event.code];
        return;
      case EventType::kCall:
        return CheckCall(event, group, agent);
      case EventType::kCdr:
        return CheckCdr(event, group, agent);
      case EventType::kGroupUpdate:
        if (event.code == 0) {
          EXPECT_EQ(calls_in_group_[group], 0) << "a group with calls stays";
          std::erase_if(status_, [&](const auto& entry) { return entry.first.first == group; });
        }
        return;
      case EventType::kRelationUpdate:
        if (event.code == 1) {
          status_[{group, agent}] = -1;  // the Status event that follows tells
        } else {
          EXPECT_FALSE(on_call_.count(agent)) << "an agent on a call keeps the membership";
          EXPECT_TRUE(status_.erase({group, agent}));
        }
        return;
      case EventType::kAgentUpdate:
        if (event.code == 0) {
          EXPECT_FALSE(std::any_of(status_.begin(), status_.end(), [&](const auto& entry) {
            return entry.first.second == agent;
          })) << "every membership ends first";
        }
        return;
    }
  }

  // Agents with a membership whose status is not logged out.
  size_t LoggedOn() const {
    std::set<std::string> agents;
    for (const auto& [member, status] : status_) {
      if (status > kLoggedOut) agents.insert(member.second);
    }
    return agents.size();
  }

  std::map<int32_t, int> statuses;  // Status events, by status
  std::vector<int32_t> talks;       // talk time of each answered call
  std::vector<int32_t> waits;       // wait of each answered call
  int abandoned = 0;
  std::map<int, int> arrivals_by_hour;  // UTC hour

 private:
  struct Call {
    std::string group;
    std::string agent;
    uint32_t arrived = 0;
    uint32_t answered = 0;
    uint32_t ended = 0;
    bool connected = false;
  };

  void CheckCall(const SimEvent& event, const std::string& group, const std::string& agent) {
    if (event.code == kQueued) {
      ASSERT_FALSE(calls_.count(event.call_number));
      EXPECT_TRUE(agent.empty());
      calls_[event.call_number] = Call{group, "", event.time};
      ++waiting_[group];
      ++calls_in_group_[group];
      ++arrivals_by_hour[static_cast<int>(event.time / 3600 % 24)];
      EXPECT_EQ(event.calls_in_queue, waiting_[group]);
      return;
    }
    ASSERT_TRUE(calls_.count(event.call_number)) << "a call starts queued";
    Call& call = calls_[event.call_number];
    EXPECT_EQ(call.group, group);
    if (event.code == kConnected) {
      ASSERT_FALSE(call.connected);
      ASSERT_FALSE(agent.empty());
      ASSERT_TRUE(status_.count({group, agent})) << agent << " answers for " << group;
      for (const auto& [member, status] : status_) {
        if (member.second != agent) continue;
        EXPECT_EQ(status, kAvailable) << agent << " was available";
      }
      EXPECT_TRUE(on_call_.emplace(agent, event.call_number).second) << agent << " on two calls";
      call = Call{group, agent, call.arrived, event.time, 0, true};
      --waiting_[group];
      EXPECT_EQ(event.calls_in_queue, waiting_[group]);
      return;
    }
    ASSERT_EQ(event.code, kEnded);
    call.ended = event.time;
    --calls_in_group_[group];
    if (call.connected) {
      EXPECT_TRUE(event.close_reason == kCallerHungUp || event.close_reason == kAgentHungUp);
      EXPECT_EQ(agent, call.agent);
      for (const auto& [member, status] : status_) {
        if (member.second == agent) {
          EXPECT_EQ(status, kBusy) << agent << " busy all through the call";
          wrapping_up_.insert(member);
        }
      }
      on_call_.erase(agent);
    } else {
      EXPECT_EQ(event.close_reason, kAbandoned);
      EXPECT_TRUE(agent.empty()) << "an abandoned call has no agent";
      --waiting_[group];
      EXPECT_EQ(event.calls_in_queue, waiting_[group]);
    }
    ended_ = event.call_number;
  }

  void CheckCdr(const SimEvent& event, const std::string& group, const std::string& agent) {
    ASSERT_EQ(ended_, std::optional<uint64_t>(event.call_number));
    ended_.reset();
    const Call call = calls_[event.call_number];
    calls_.erase(event.call_number);
    EXPECT_EQ(event.code, kEnded);
    EXPECT_EQ(group, call.group);
    EXPECT_EQ(agent, call.agent);
    EXPECT_EQ(event.call_time, call.arrived);
    const uint32_t left_queue = call.connected ? call.answered : call.ended;
    EXPECT_EQ(event.queue_duration, static_cast<int32_t>(left_queue - call.arrived));
    EXPECT_EQ(event.call_duration,
              call.connected ? static_cast<int32_t>(call.ended - call.answered) : 0);
    EXPECT_EQ(event.call_time + static_cast<uint32_t>(event.queue_duration + event.call_duration),
              event.time)
        << "arrival, wait and talk add up to the end";
    if (call.connected) {
      talks.push_back(event.call_duration);
      waits.push_back(event.queue_duration);
    } else {
      ++abandoned;
    }
  }

  uint32_t last_time_ = 0;
  std::map<Membership, int32_t> status_;  // -1: not told yet
  std::map<uint64_t, Call> calls_;
  std::map<std::string, uint64_t> on_call_;  // agent: call
  std::map<std::string, int> waiting_;       // group: calls queued
  std::map<std::string, int> calls_in_group_;
  std::set<Membership> wrapping_up_;  // next status must be wrap-up
  std::optional<uint64_t> ended_;     // a call whose CDR comes next
};

// A week of a centre of four groups and twenty agents, directory changes
// included, followed event by event.
TEST(CallCentreModelTest, AWeekOfCallsAndAgentsTellsOneConsistentStory) {
  const CallCentre initial = CentreGenerator::Generate(4, 20, 3);
  CallCentreModel model(initial, {}, 11, kMonday);
  EventAudit audit(initial);
  std::map<int, int> types;
  std::vector<size_t> on_at_three;
  std::vector<size_t> on_at_half_past_ten;
  for (uint64_t day = 0; day < 7; ++day) {
    for (uint64_t hour = 0; hour < 24; ++hour) {
      const uint64_t base = kMonday + (day * 24 + hour) * kHourMs;
      while (const auto event = model.NextUntil(base + kHourMs / 2)) {
        audit.Check(*event, model.centre());
        ++types[static_cast<int>(event->type)];
        if (::testing::Test::HasFatalFailure()) return;
      }
      if (hour == 3) on_at_three.push_back(audit.LoggedOn());
      if (hour == 10) on_at_half_past_ten.push_back(audit.LoggedOn());
      while (const auto event = model.NextUntil(base + kHourMs)) {
        audit.Check(*event, model.centre());
        ++types[static_cast<int>(event->type)];
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
  for (int type = 0; type < 6; ++type) EXPECT_GT(types[type], 0) << "event type " << type;

  // Talk times: the mean asked for, with a long tail.
  const std::vector<int32_t>& talks = audit.talks;
  ASSERT_GT(talks.size(), 5000u);
  const double mean =
      std::accumulate(talks.begin(), talks.end(), 0.0) / static_cast<double>(talks.size());
  EXPECT_NEAR(mean, 240, 24);
  const auto long_talks =
      std::count_if(talks.begin(), talks.end(), [](int32_t t) { return t > 720; });
  EXPECT_GT(long_talks, talks.size() * 2 / 100);
  EXPECT_LT(long_talks, talks.size() * 8 / 100);
  // A well-run centre: most callers answered within 20 s, few give up.
  const auto quick =
      std::count_if(audit.waits.begin(), audit.waits.end(), [](int32_t w) { return w <= 20; });
  const size_t offered = talks.size() + static_cast<size_t>(audit.abandoned);
  EXPECT_GT(quick, offered * 7 / 10);
  EXPECT_GT(audit.abandoned, 0);
  EXPECT_LT(static_cast<size_t>(audit.abandoned), offered * 12 / 100);
  // The day's shape: calls and staff follow the profile.
  EXPECT_GT(audit.arrivals_by_hour[10], 10 * audit.arrivals_by_hour[2]);
  for (size_t day = 0; day < 7; ++day) {
    EXPECT_LE(on_at_three[day], 8u) << day;
    EXPECT_GE(on_at_half_past_ten[day], 16u) << day;
  }
  EXPECT_GT(audit.statuses[kPaused], 7 * 20) << "breaks every day";
  EXPECT_GT(audit.statuses[kLoggedOut], 7 * 10) << "shifts end every day";
}

}  // namespace
}  // namespace callsink::acdsim
