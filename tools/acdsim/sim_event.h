#pragma once

#include <cstdint>

#include "protocol/wire_format.h"
#include "tools/acdsim/call_centre.h"

namespace callsink::acdsim {

// Call states and close reasons the simulator uses in Call and CDR events.
enum CallState : int32_t { kQueued = 1, kConnected = 2, kEnded = 3 };
enum CloseReason : int32_t {
  kStillOpen = 0,
  kCallerHungUp = 1,
  kAgentHungUp = 2,
  kAbandoned = 3,
};

// One event the call-centre model produced, before it is encoded. Groups and
// agents are slots of the model's CallCentre; kNone stands for "no agent".
struct SimEvent {
  wire::EventType type = wire::EventType::kStatus;
  uint32_t time = 0;  // the server's clock, seconds since 1970
  uint32_t group = CallCentre::kNone;
  uint32_t agent = CallCentre::kNone;
  // Status: the status code; Call and CDR: the call state; GroupUpdate,
  // RelationUpdate, AgentUpdate: the state (0 removed, 1 present).
  int32_t code = 0;
  int32_t close_reason = kStillOpen;  // Call, CDR
  int32_t calls_in_queue = 0;         // Call
  uint32_t call_time = 0;             // CDR: when the call came in
  int32_t queue_duration = 0;         // CDR
  int32_t call_duration = 0;          // CDR
  uint64_t call_number = 0;           // Call, CDR: see CallCentreModel::CallId
  uint64_t caller_number = 0;         // CDR
};

}  // namespace callsink::acdsim
