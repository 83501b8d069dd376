#include "tools/acdsim/call_centre_model.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

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

TEST(CallCentreModelTest, SameStartGivesTheSameEventsAndAnotherStartOthers) {
  const CallCentre centre = CentreGenerator::Generate(3, 12, 1);
  const auto run = [&](uint64_t start) {
    CallCentreModel model(centre, start, 1000, 1000);
    std::string events;
    for (int i = 0; i < 2000; ++i) events += Describe(model.Next(), model.centre()) + ";";
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

// Runs the model long enough for every kind of happening, including the
// rare directory changes, and checks that the events tell a consistent
// story.
TEST(CallCentreModelTest, EventsStayConsistentWithTheDirectoryAndEachCall) {
  const CallCentre initial = CentreGenerator::Generate(4, 20, 3);
  CallCentreModel model(initial, 11, 1717200000, 1000);
  std::map<uint64_t, int32_t> call_state;  // last state of each call
  std::map<int, int> counts;
  uint32_t last_time = 0;
  for (int i = 0; i < 200000; ++i) {
    const SimEvent event = model.Next();
    const CallCentre& centre = model.centre();
    ++counts[static_cast<int>(event.type)];
    ASSERT_GE(event.time, last_time) << "the clock never runs back";
    last_time = event.time;
    switch (event.type) {
      case EventType::kStatus: {
        const uint32_t membership = centre.FindMembership(event.group, event.agent);
        ASSERT_NE(membership, CallCentre::kNone);
        EXPECT_EQ(centre.membership(membership).status, event.code);
        break;
      }
      case EventType::kCall: {
        EXPECT_GE(event.calls_in_queue, 0);
        EXPECT_EQ(event.code == kQueued || event.close_reason == kAbandoned,
                  event.agent == CallCentre::kNone);
        const auto known = call_state.find(event.call_number);
        if (event.code == kQueued) {
          EXPECT_EQ(known, call_state.end());
        } else {
          ASSERT_NE(known, call_state.end());
          EXPECT_LT(known->second, event.code) << "states only move forward";
        }
        call_state[event.call_number] = event.code;
        break;
      }
      case EventType::kCdr:
        EXPECT_EQ(call_state[event.call_number], kEnded) << "a CDR follows the call's end";
        EXPECT_GE(event.queue_duration, 0);
        EXPECT_GE(event.call_duration, 0);
        EXPECT_LE(event.call_time, event.time);
        break;
      case EventType::kGroupUpdate:
        EXPECT_EQ(centre.FindGroup(centre.group(event.group).name) != CallCentre::kNone,
                  event.code == 1);
        break;
      case EventType::kAgentUpdate:
        EXPECT_EQ(centre.FindAgent(centre.agent(event.agent).name) != CallCentre::kNone,
                  event.code == 1);
        break;
      case EventType::kRelationUpdate:
        if (event.code == 1) {
          EXPECT_NE(centre.FindMembership(event.group, event.agent), CallCentre::kNone);
        }
        break;
    }
    ASSERT_GE(centre.group_count(), 2u);
    ASSERT_LE(centre.group_count(), 8u);
    ASSERT_GE(centre.agent_count(), 10u);
    ASSERT_LE(centre.agent_count(), 40u);
  }
  for (int type = 0; type < 6; ++type) EXPECT_GT(counts[type], 0) << "event type " << type;
}

}  // namespace
}  // namespace callsink::acdsim
