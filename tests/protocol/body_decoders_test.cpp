// Golden bodies, boundary values and every truncated prefix for each body
// decoder. Bodies are handed over in allocations of exactly their length, so
// an over-read shows under AddressSanitizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "protocol/agent_list.h"
#include "protocol/call_body.h"
#include "protocol/cdr_body.h"
#include "protocol/config_update_body.h"
#include "protocol/full_agent_list.h"
#include "protocol/group_list.h"
#include "protocol/status_body.h"
#include "tests/protocol/wire_bytes.h"

namespace callsink {
namespace {

using test::Prefix;
using test::WireBytes;

constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

// The raw 32-bit patterns of the boundary rows and what a signed field reads.
struct Boundary {
  uint32_t wire;
  int32_t as_signed;
};
constexpr Boundary kBoundaries[] = {
    {0u, 0}, {0x7fffffffu, kInt32Max}, {0x80000000u, kInt32Min}, {0xffffffffu, -1}};

const std::string kFifteen = "ABCDEFGHIJKLMNO";
const std::string kSixteen = "ABCDEFGHIJKLMNOP";

std::vector<uint8_t> StatusGolden(std::string_view agent, std::string_view group, uint32_t code) {
  return WireBytes().Name(agent).Name(group).Be32(code).bytes();
}

std::vector<uint8_t> CdrGolden(uint32_t call_time, uint32_t queue, uint32_t duration,
                               uint32_t state, uint32_t reason,
                               std::string_view caller = "+4930123456",
                               std::string_view guid = "{6F9619FF-8B86-D011-B42D-00C04FC964FF}",
                               std::string_view agent = "1001") {
  return WireBytes()
      .Name("Sales")
      .Be32(call_time)
      .Be32(queue)
      .Be32(duration)
      .Text(caller, 32)
      .Text(guid, 64)
      .Be32(state)
      .Be32(reason)
      .Name(agent)
      .bytes();
}

std::vector<uint8_t> CallGolden(uint32_t state, uint32_t reason, uint32_t queue,
                                std::string_view call_id = "call-0001",
                                std::string_view agent = "1001") {
  return WireBytes()
      .Name("Support")
      .Text(call_id, 64)
      .Be32(state)
      .Be32(reason)
      .Name(agent)
      .Be32(queue)
      .bytes();
}

std::vector<uint8_t> ConfigGolden(uint32_t state, std::string_view full_name = "Anna Berg") {
  return WireBytes().Name("Sales").Name("1001").Be32(state).Name(full_name).bytes();
}

// ---- Fixed-layout bodies: every prefix shorter than the layout is refused ---

struct FixedLayout {
  const char* name;
  std::vector<uint8_t> golden;
  size_t layout_size;
  std::function<bool(const uint8_t*, size_t)> decodes;
};

std::vector<FixedLayout> FixedLayouts() {
  return {
      {"StatusBody", StatusGolden("1001", "Sales", 2), 36,
       [](const uint8_t* b, size_t n) { return StatusBody::Decode(b, n).has_value(); }},
      {"CdrBody", CdrGolden(1717200000, 12, 95, 3, 1), 148,
       [](const uint8_t* b, size_t n) { return CdrBody::Decode(b, n).has_value(); }},
      {"CallBody", CallGolden(2, 0, 4), 108,
       [](const uint8_t* b, size_t n) { return CallBody::Decode(b, n).has_value(); }},
      {"ConfigUpdateBody", ConfigGolden(1), 52,
       [](const uint8_t* b, size_t n) { return ConfigUpdateBody::Decode(b, n).has_value(); }},
  };
}

TEST(FixedBodyDecoderTest, EveryTruncatedPrefixIsRefusedAndTheWholeBodyAccepted) {
  for (const FixedLayout& layout : FixedLayouts()) {
    ASSERT_EQ(layout.golden.size(), layout.layout_size) << layout.name;
    for (size_t length = 0; length < layout.layout_size; ++length) {
      const std::vector<uint8_t> prefix = Prefix(layout.golden, length);
      EXPECT_FALSE(layout.decodes(prefix.data(), length)) << layout.name << " length " << length;
    }
    EXPECT_TRUE(layout.decodes(layout.golden.data(), layout.golden.size())) << layout.name;
  }
}

TEST(FixedBodyDecoderTest, BytesBeyondTheLayoutAreIgnored) {
  for (const FixedLayout& layout : FixedLayouts()) {
    std::vector<uint8_t> longer = layout.golden;
    longer.insert(longer.end(), 100, 0xee);
    EXPECT_TRUE(layout.decodes(longer.data(), longer.size())) << layout.name;
  }
}

// ---- StatusBody ------------------------------------------------------------

TEST(StatusBodyTest, DecodesTheGoldenBody) {
  const std::vector<uint8_t> body = StatusGolden("1001", "Sales", 2);
  const auto status = StatusBody::Decode(body.data(), body.size());
  ASSERT_TRUE(status);
  EXPECT_EQ(status->agent, "1001");
  EXPECT_EQ(status->group, "Sales");
  EXPECT_EQ(status->status, 2);
}

TEST(StatusBodyTest, StatusCodesAreSigned32BitAtTheBoundaries) {
  for (const Boundary& boundary : kBoundaries) {
    const std::vector<uint8_t> body = StatusGolden("a", "g", boundary.wire);
    EXPECT_EQ(StatusBody::Decode(body.data(), body.size())->status, boundary.as_signed);
  }
}

TEST(StatusBodyTest, FifteenCharacterNamesAreWhole) {
  const std::vector<uint8_t> body = StatusGolden(kFifteen, kFifteen, 1);
  const auto status = StatusBody::Decode(body.data(), body.size());
  EXPECT_EQ(status->agent, kFifteen);
  EXPECT_EQ(status->group, kFifteen);
}

TEST(StatusBodyTest, NamesWithoutNulEndAtTheFieldWidth) {
  const std::vector<uint8_t> body = StatusGolden(kSixteen, "QRSTUVWXYZ012345", 1);
  const auto status = StatusBody::Decode(body.data(), body.size());
  EXPECT_EQ(status->agent, kSixteen);
  EXPECT_EQ(status->group, "QRSTUVWXYZ012345");
}

TEST(StatusBodyTest, BytesAfterTheNulDoNotBelongToTheName) {
  const std::vector<uint8_t> body =
      WireBytes().Text(std::string("ab\0junk", 7), 16).Name("g").Be32(0).bytes();
  EXPECT_EQ(StatusBody::Decode(body.data(), body.size())->agent, "ab");
}

// ---- GroupList ---------------------------------------------------------------

std::vector<uint8_t> GroupListGolden(uint32_t count, const std::vector<std::string>& names) {
  WireBytes bytes;
  bytes.Be32(count);
  for (const std::string& name : names) bytes.Name(name);
  return bytes.bytes();
}

TEST(GroupListTest, CountZeroYieldsNoNames) {
  const std::vector<uint8_t> body = GroupListGolden(0, {});
  const auto list = GroupList::Decode(body.data(), body.size());
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->groups.empty());
  EXPECT_TRUE(list->groups.complete());
}

TEST(GroupListTest, TwoNamesLieAtBodyOffsetsFourAndTwenty) {
  std::vector<uint8_t> body(36, 0);
  body[3] = 2;
  body[4] = 'S';
  body[20] = 'Q';
  const auto list = GroupList::Decode(body.data(), body.size());
  ASSERT_EQ(list->groups.size(), 2u);
  EXPECT_EQ(list->groups.Name(0), "S");
  EXPECT_EQ(list->groups.Name(1), "Q");
  EXPECT_TRUE(list->groups.complete());
}

TEST(GroupListTest, NamesOfFifteenAndOfSixteenCharactersWithoutNul) {
  const std::vector<uint8_t> body = GroupListGolden(2, {kFifteen, kSixteen});
  const auto list = GroupList::Decode(body.data(), body.size());
  EXPECT_EQ(list->groups.Name(0), kFifteen);
  EXPECT_EQ(list->groups.Name(1), kSixteen);
}

TEST(GroupListTest, CountPastTheEndYieldsOnlyTheEntriesThatArrived) {
  for (uint32_t count : {3u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
    const std::vector<uint8_t> body = GroupListGolden(count, {"Sales", "Support"});
    const auto list = GroupList::Decode(body.data(), body.size());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->groups.declared_count(), count);
    ASSERT_EQ(list->groups.size(), 2u) << count;
    EXPECT_EQ(list->groups.Name(1), "Support");
    EXPECT_FALSE(list->groups.complete());
  }
}

TEST(GroupListTest, EveryTruncatedPrefixYieldsTheWholeEntriesInIt) {
  const std::vector<uint8_t> golden = GroupListGolden(3, {"Sales", "Support", "Billing"});
  const char* names[] = {"Sales", "Support", "Billing"};
  for (size_t length = 0; length <= golden.size(); ++length) {
    const std::vector<uint8_t> prefix = Prefix(golden, length);
    const auto list = GroupList::Decode(prefix.data(), length);
    if (length < 4) {
      EXPECT_FALSE(list) << length;
      continue;
    }
    ASSERT_TRUE(list) << length;
    ASSERT_EQ(list->groups.size(), (length - 4) / 16) << length;
    for (size_t i = 0; i < list->groups.size(); ++i) EXPECT_EQ(list->groups.Name(i), names[i]);
  }
}

// ---- AgentList ---------------------------------------------------------------

std::vector<uint8_t> AgentListGolden(std::string_view group, uint32_t count,
                                     const std::vector<std::string>& agents) {
  WireBytes bytes;
  bytes.Name(group).Be32(count);
  for (const std::string& agent : agents) bytes.Name(agent);
  return bytes.bytes();
}

TEST(AgentListTest, DecodesGroupAndMembersInOrder) {
  const std::vector<uint8_t> body = AgentListGolden("Sales", 3, {"1001", "1002", kFifteen});
  const auto list = AgentList::Decode(body.data(), body.size());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->group, "Sales");
  ASSERT_EQ(list->agents.size(), 3u);
  EXPECT_EQ(list->agents.Name(0), "1001");
  EXPECT_EQ(list->agents.Name(1), "1002");
  EXPECT_EQ(list->agents.Name(2), kFifteen);
}

TEST(AgentListTest, GroupWithoutNulDoesNotRunIntoTheCount) {
  const std::vector<uint8_t> body = AgentListGolden(kSixteen, 1, {kSixteen});
  const auto list = AgentList::Decode(body.data(), body.size());
  EXPECT_EQ(list->group, kSixteen);
  EXPECT_EQ(list->agents.Name(0), kSixteen);
}

TEST(AgentListTest, CountPastTheEndYieldsOnlyTheEntriesThatArrived) {
  for (uint32_t count : {2u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
    const std::vector<uint8_t> body = AgentListGolden("Sales", count, {"1001"});
    const auto list = AgentList::Decode(body.data(), body.size());
    ASSERT_EQ(list->agents.size(), 1u) << count;
    EXPECT_EQ(list->agents.declared_count(), count);
  }
}

TEST(AgentListTest, CountBelowTheEntriesSentYieldsOnlyTheCount) {
  const std::vector<uint8_t> body = AgentListGolden("Sales", 1, {"1001", "1002"});
  EXPECT_EQ(AgentList::Decode(body.data(), body.size())->agents.size(), 1u);
}

TEST(AgentListTest, EveryTruncatedPrefixYieldsTheWholeEntriesInIt) {
  const std::vector<uint8_t> golden = AgentListGolden("Sales", 2, {"1001", "1002"});
  for (size_t length = 0; length <= golden.size(); ++length) {
    const std::vector<uint8_t> prefix = Prefix(golden, length);
    const auto list = AgentList::Decode(prefix.data(), length);
    if (length < 20) {
      EXPECT_FALSE(list) << length;
      continue;
    }
    ASSERT_TRUE(list) << length;
    EXPECT_EQ(list->group, "Sales");
    EXPECT_EQ(list->agents.size(), (length - 20) / 16) << length;
  }
}

// ---- FullAgentList -------------------------------------------------------------

std::vector<uint8_t> FullAgentListGolden(uint32_t count) {
  return WireBytes()
      .Name("")
      .Be32(count)
      .Name("1001")
      .Name("Anna Berg")
      .Name("1002")
      .Name(kSixteen)
      .bytes();
}

TEST(FullAgentListTest, DecodesAgentsWithTheirFullNames) {
  const std::vector<uint8_t> body = FullAgentListGolden(2);
  const auto list = FullAgentList::Decode(body.data(), body.size());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->group, "");
  ASSERT_EQ(list->entries.size(), 2u);
  EXPECT_EQ(list->agent(0), "1001");
  EXPECT_EQ(list->full_name(0), "Anna Berg");
  EXPECT_EQ(list->agent(1), "1002");
  EXPECT_EQ(list->full_name(1), kSixteen);
}

TEST(FullAgentListTest, SecondEntryLiesAtBodyOffsets52And68) {
  std::vector<uint8_t> body(84, 0);
  body[19] = 2;
  body[52] = 'A';
  body[68] = 'F';
  const auto list = FullAgentList::Decode(body.data(), body.size());
  EXPECT_EQ(list->agent(1), "A");
  EXPECT_EQ(list->full_name(1), "F");
}

TEST(FullAgentListTest, CountPastTheEndYieldsOnlyTheEntriesThatArrived) {
  for (uint32_t count : {3u, 0x80000000u, 0xffffffffu}) {
    const std::vector<uint8_t> body = FullAgentListGolden(count);
    EXPECT_EQ(FullAgentList::Decode(body.data(), body.size())->entries.size(), 2u) << count;
  }
}

TEST(FullAgentListTest, EveryTruncatedPrefixYieldsTheWholeEntriesInIt) {
  const std::vector<uint8_t> golden = FullAgentListGolden(2);
  for (size_t length = 0; length <= golden.size(); ++length) {
    const std::vector<uint8_t> prefix = Prefix(golden, length);
    const auto list = FullAgentList::Decode(prefix.data(), length);
    if (length < 20) {
      EXPECT_FALSE(list) << length;
      continue;
    }
    ASSERT_TRUE(list) << length;
    ASSERT_EQ(list->entries.size(), (length - 20) / 32) << length;
    if (list->entries.size() == 2) {
      EXPECT_EQ(list->full_name(1), kSixteen);
    }
  }
}

// ---- CdrBody ---------------------------------------------------------------------

TEST(CdrBodyTest, DecodesTheGoldenBody) {
  const std::vector<uint8_t> body = CdrGolden(1717200000, 12, 95, 3, 1);
  const auto cdr = CdrBody::Decode(body.data(), body.size());
  ASSERT_TRUE(cdr);
  EXPECT_EQ(cdr->group, "Sales");
  EXPECT_EQ(cdr->call_time, 1717200000u);
  EXPECT_EQ(cdr->queue_duration, 12);
  EXPECT_EQ(cdr->call_duration, 95);
  EXPECT_EQ(cdr->caller_user, "+4930123456");
  EXPECT_EQ(cdr->call_guid, "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  EXPECT_EQ(cdr->call_state, 3);
  EXPECT_EQ(cdr->close_reason, 1);
  EXPECT_EQ(cdr->agent, "1001");
}

TEST(CdrBodyTest, CallTimeIsUnsignedAndCodesAreSignedAtTheBoundaries) {
  for (const Boundary& b : kBoundaries) {
    const std::vector<uint8_t> body = CdrGolden(b.wire, b.wire, b.wire, b.wire, b.wire);
    const auto cdr = CdrBody::Decode(body.data(), body.size());
    EXPECT_EQ(cdr->call_time, b.wire);
    EXPECT_EQ(cdr->queue_duration, b.as_signed);
    EXPECT_EQ(cdr->call_duration, b.as_signed);
    EXPECT_EQ(cdr->call_state, b.as_signed);
    EXPECT_EQ(cdr->close_reason, b.as_signed);
  }
}

TEST(CdrBodyTest, TextsAtFullWidthWithoutNulEndAtTheirFields) {
  const std::string caller(32, 'c');
  const std::string guid(64, 'g');
  const std::vector<uint8_t> body = CdrGolden(1, 2, 3, 4, 5, caller, guid, kSixteen);
  const auto cdr = CdrBody::Decode(body.data(), body.size());
  EXPECT_EQ(cdr->caller_user, caller);
  EXPECT_EQ(cdr->call_guid, guid);
  EXPECT_EQ(cdr->agent, kSixteen);
  EXPECT_EQ(cdr->call_state, 4);
}

TEST(CdrBodyTest, LongestTextsWithTheirNulAreWhole) {
  const std::string caller(31, 'c');
  const std::string guid(63, 'g');
  const std::vector<uint8_t> body = CdrGolden(1, 2, 3, 4, 5, caller, guid, kFifteen);
  const auto cdr = CdrBody::Decode(body.data(), body.size());
  EXPECT_EQ(cdr->caller_user, caller);
  EXPECT_EQ(cdr->call_guid, guid);
  EXPECT_EQ(cdr->agent, kFifteen);
}

TEST(CdrBodyTest, EmptyAgentOfAnAbandonedCall) {
  const std::vector<uint8_t> body = CdrGolden(1, 30, 0, 3, 3, "+49", "g", "");
  EXPECT_EQ(CdrBody::Decode(body.data(), body.size())->agent, "");
}

// ---- CallBody ----------------------------------------------------------------------

TEST(CallBodyTest, DecodesTheGoldenBody) {
  const std::vector<uint8_t> body = CallGolden(2, 0, 4);
  const auto call = CallBody::Decode(body.data(), body.size());
  ASSERT_TRUE(call);
  EXPECT_EQ(call->group, "Support");
  EXPECT_EQ(call->call_id, "call-0001");
  EXPECT_EQ(call->call_state, 2);
  EXPECT_EQ(call->close_reason, 0);
  EXPECT_EQ(call->agent, "1001");
  EXPECT_EQ(call->calls_in_queue, 4);
}

TEST(CallBodyTest, CodesAreSignedAtTheBoundaries) {
  for (const Boundary& b : kBoundaries) {
    const std::vector<uint8_t> body = CallGolden(b.wire, b.wire, b.wire);
    const auto call = CallBody::Decode(body.data(), body.size());
    EXPECT_EQ(call->call_state, b.as_signed);
    EXPECT_EQ(call->close_reason, b.as_signed);
    EXPECT_EQ(call->calls_in_queue, b.as_signed);
  }
}

TEST(CallBodyTest, CallIdAndAgentWithoutNulEndAtTheirFields) {
  const std::string call_id(64, 'x');
  const std::vector<uint8_t> body = CallGolden(1, 0, 0, call_id, kSixteen);
  const auto call = CallBody::Decode(body.data(), body.size());
  EXPECT_EQ(call->call_id, call_id);
  EXPECT_EQ(call->agent, kSixteen);
  EXPECT_EQ(call->call_state, 1);
}

// ---- ConfigUpdateBody ------------------------------------------------------------------

TEST(ConfigUpdateBodyTest, DecodesTheGoldenBody) {
  const std::vector<uint8_t> body = ConfigGolden(1);
  const auto update = ConfigUpdateBody::Decode(body.data(), body.size());
  ASSERT_TRUE(update);
  EXPECT_EQ(update->group, "Sales");
  EXPECT_EQ(update->agent, "1001");
  EXPECT_EQ(update->state, 1);
  EXPECT_EQ(update->full_name, "Anna Berg");
}

TEST(ConfigUpdateBodyTest, StateIsSignedAtTheBoundaries) {
  for (const Boundary& b : kBoundaries) {
    const std::vector<uint8_t> body = ConfigGolden(b.wire);
    EXPECT_EQ(ConfigUpdateBody::Decode(body.data(), body.size())->state, b.as_signed);
  }
}

TEST(ConfigUpdateBodyTest, FullNameWithoutNulEndsAtTheEndOfTheBody) {
  const std::vector<uint8_t> body = ConfigGolden(1, kSixteen);
  EXPECT_EQ(ConfigUpdateBody::Decode(body.data(), body.size())->full_name, kSixteen);
}

}  // namespace
}  // namespace callsink
