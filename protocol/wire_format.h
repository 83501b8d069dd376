#pragma once

#include <cstddef>
#include <cstdint>

// The ACD protocol's records, written down once. Every message is a 20-byte
// header followed by a body whose layout depends on the message's class and
// type. All integers are big-endian, except the subscribe flag of three
// requests (see kSubscribeFlagLittleEndian). Offsets of body fields count
// from the end of the header. Builders, decoders and the simulator use only
// these constants.
namespace callsink::wire {

// ---- Header --------------------------------------------------------------

inline constexpr size_t kProtocolOffset = 0;
inline constexpr size_t kClassOffset = 2;
inline constexpr size_t kTypeOffset = 4;
inline constexpr size_t kResultOffset = 6;
inline constexpr size_t kRequestIdOffset = 8;
inline constexpr size_t kLengthOffset = 12;
inline constexpr size_t kTimestampOffset = 16;
inline constexpr size_t kHeaderSize = 20;

// What every request carries in `protocol`; no receiver tests it.
inline constexpr uint16_t kProtocolId = 6;
// The largest message, header included, that a receiver holds.
inline constexpr size_t kMaxMessageSize = 4096;
inline constexpr uint16_t kResultSuccess = 0;

enum class MessageClass : uint16_t { kRequest = 0, kResponse = 1, kEvent = 2 };

// Request types; a response carries the type of the request it answers.
enum class RequestType : uint16_t {
  kSubscribeStatus = 0,
  kSubscribeCall = 1,
  kSubscribeCdr = 2,
  kSubscribeConfig = 3,
  kStatus = 4,
  kGetGroups = 5,
  kGetAgents = 6,
  kGetAllAgents = 7,
};

enum class EventType : uint16_t {
  kStatus = 0,
  kCdr = 1,
  kCall = 2,
  kGroupUpdate = 3,
  kRelationUpdate = 4,
  kAgentUpdate = 5,
};
inline constexpr uint16_t kEventTypeCount = 6;

// ---- Text fields ---------------------------------------------------------

// A text field holds its text and a terminating NUL; every byte after the NUL
// is zero. A received field without NUL ends at the field's width.
inline constexpr size_t kNameWidth = 16;
inline constexpr size_t kCallerWidth = 32;
inline constexpr size_t kCallIdWidth = 64;

// ---- Request shapes ------------------------------------------------------

// ValueRequest: header, value.
inline constexpr size_t kValueRequestValueOffset = kHeaderSize;
inline constexpr size_t kValueRequestSize = kValueRequestValueOffset + 4;
// GroupRequest: header, name, value.
inline constexpr size_t kGroupRequestNameOffset = kHeaderSize;
inline constexpr size_t kGroupRequestValueOffset = kGroupRequestNameOffset + kNameWidth;
inline constexpr size_t kGroupRequestSize = kGroupRequestValueOffset + 4;
// AgentGroupRequest: header, agent name, group name, value.
inline constexpr size_t kAgentGroupRequestAgentOffset = kHeaderSize;
inline constexpr size_t kAgentGroupRequestGroupOffset = kAgentGroupRequestAgentOffset + kNameWidth;
inline constexpr size_t kAgentGroupRequestValueOffset = kAgentGroupRequestGroupOffset + kNameWidth;
inline constexpr size_t kAgentGroupRequestSize = kAgentGroupRequestValueOffset + 4;
inline constexpr size_t kLargestRequestSize = kAgentGroupRequestSize;

// The subscribe flag's value. SubscribeStatus, SubscribeCall and SubscribeCdr
// carry it least significant byte first (01 00 00 00); SubscribeConfig
// carries it big-endian (00 00 00 01).
inline constexpr uint32_t kSubscribeFlag = 1;

// ---- Bodies (offsets from the end of the header) --------------------------

// StatusBody: Status response and Status event.
inline constexpr size_t kStatusAgentOffset = 0;
inline constexpr size_t kStatusGroupOffset = 16;
inline constexpr size_t kStatusCodeOffset = 32;
inline constexpr size_t kStatusBodySize = 36;

// GroupList: GetGroups response. `count` names follow.
inline constexpr size_t kGroupListCountOffset = 0;
inline constexpr size_t kGroupListEntriesOffset = 4;
inline constexpr size_t kGroupListEntryWidth = kNameWidth;

// AgentList: GetAgents response. `count` names follow.
inline constexpr size_t kAgentListGroupOffset = 0;
inline constexpr size_t kAgentListCountOffset = 16;
inline constexpr size_t kAgentListEntriesOffset = 20;
inline constexpr size_t kAgentListEntryWidth = kNameWidth;

// FullAgentList: GetAllAgents response. `count` entries of agent name and
// full name follow.
inline constexpr size_t kFullAgentListGroupOffset = 0;
inline constexpr size_t kFullAgentListCountOffset = 16;
inline constexpr size_t kFullAgentListEntriesOffset = 20;
inline constexpr size_t kFullAgentEntryAgentOffset = 0;
inline constexpr size_t kFullAgentEntryFullNameOffset = 16;
inline constexpr size_t kFullAgentListEntryWidth = 32;

// CdrBody: CDR event, one finished call.
inline constexpr size_t kCdrGroupOffset = 0;
inline constexpr size_t kCdrCallTimeOffset = 16;
inline constexpr size_t kCdrQueueDurationOffset = 20;
inline constexpr size_t kCdrCallDurationOffset = 24;
inline constexpr size_t kCdrCallerOffset = 28;
inline constexpr size_t kCdrCallGuidOffset = 60;
inline constexpr size_t kCdrCallStateOffset = 124;
inline constexpr size_t kCdrCloseReasonOffset = 128;
inline constexpr size_t kCdrAgentOffset = 132;
inline constexpr size_t kCdrBodySize = 148;

// CallBody: Call event, a call changed state.
inline constexpr size_t kCallGroupOffset = 0;
inline constexpr size_t kCallIdOffset = 16;
inline constexpr size_t kCallStateOffset = 80;
inline constexpr size_t kCallCloseReasonOffset = 84;
inline constexpr size_t kCallAgentOffset = 88;
inline constexpr size_t kCallQueueLengthOffset = 104;
inline constexpr size_t kCallBodySize = 108;

// ConfigUpdateBody: GroupUpdate, RelationUpdate and AgentUpdate events.
inline constexpr size_t kConfigGroupOffset = 0;
inline constexpr size_t kConfigAgentOffset = 16;
inline constexpr size_t kConfigStateOffset = 32;
inline constexpr size_t kConfigFullNameOffset = 36;
inline constexpr size_t kConfigUpdateBodySize = 52;

// ---- Layout checks --------------------------------------------------------

static_assert(kTimestampOffset + 4 == kHeaderSize);
static_assert(kValueRequestSize == 24);
static_assert(kGroupRequestSize == 40);
static_assert(kAgentGroupRequestSize == 56);
static_assert(kStatusCodeOffset == kStatusGroupOffset + kNameWidth);
static_assert(kStatusBodySize == kStatusCodeOffset + 4);
static_assert(kGroupListEntriesOffset == kGroupListCountOffset + 4);
static_assert(kAgentListCountOffset == kAgentListGroupOffset + kNameWidth);
static_assert(kAgentListEntriesOffset == kAgentListCountOffset + 4);
static_assert(kFullAgentListCountOffset == kFullAgentListGroupOffset + kNameWidth);
static_assert(kFullAgentListEntriesOffset == kFullAgentListCountOffset + 4);
static_assert(kFullAgentEntryFullNameOffset == kFullAgentEntryAgentOffset + kNameWidth);
static_assert(kFullAgentListEntryWidth == kFullAgentEntryFullNameOffset + kNameWidth);
static_assert(kCdrCallTimeOffset == kCdrGroupOffset + kNameWidth);
static_assert(kCdrCallerOffset == kCdrCallDurationOffset + 4);
static_assert(kCdrCallGuidOffset == kCdrCallerOffset + kCallerWidth);
static_assert(kCdrCallStateOffset == kCdrCallGuidOffset + kCallIdWidth);
static_assert(kCdrAgentOffset == kCdrCloseReasonOffset + 4);
static_assert(kCdrBodySize == kCdrAgentOffset + kNameWidth);
static_assert(kCallIdOffset == kCallGroupOffset + kNameWidth);
static_assert(kCallStateOffset == kCallIdOffset + kCallIdWidth);
static_assert(kCallAgentOffset == kCallCloseReasonOffset + 4);
static_assert(kCallQueueLengthOffset == kCallAgentOffset + kNameWidth);
static_assert(kCallBodySize == kCallQueueLengthOffset + 4);
static_assert(kConfigAgentOffset == kConfigGroupOffset + kNameWidth);
static_assert(kConfigStateOffset == kConfigAgentOffset + kNameWidth);
static_assert(kConfigUpdateBodySize == kConfigFullNameOffset + kNameWidth);
static_assert(kHeaderSize + kCdrBodySize <= kMaxMessageSize);

}  // namespace callsink::wire
