#include "worker/message_dispatch.h"

#include <ctime>
#include <span>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_connection.h"
#include "protocol/agent_list.h"
#include "protocol/call_body.h"
#include "protocol/cdr_body.h"
#include "protocol/config_update_body.h"
#include "protocol/full_agent_list.h"
#include "protocol/group_list.h"
#include "protocol/status_body.h"
#include "worker/statistics_writer.h"

namespace callsink {
namespace {

using wire::EventType;
using wire::MessageClass;
using wire::RequestType;

constexpr int32_t kPresent = 1;
constexpr int32_t kRemoved = 0;
constexpr const char* kAnyFilter = "*";

// Names in the failure lines of the responses that carry their request number.
const char* ResponseName(RequestType type) {
  switch (type) {
    case RequestType::kSubscribeStatus:
      return "SubscribeStatus";
    case RequestType::kSubscribeCall:
      return "SubscribeCall";
    case RequestType::kSubscribeCdr:
      return "SubscribeCDR";
    case RequestType::kSubscribeConfig:
      return "SubscribeConfig";
    case RequestType::kGetGroups:
      return "GetGroups";
    case RequestType::kGetAgents:
      return "GetAgents";
    case RequestType::kGetAllAgents:
      return "GetAllAgents";
    case RequestType::kStatus:
      break;
  }
  return nullptr;
}

const char* EventFailureLine(EventType type) {
  switch (type) {
    case EventType::kStatus:
      return "- Status FAILURE! ---------------";
    case EventType::kCdr:
      return "- CDR FAILURE! ------------------";
    case EventType::kCall:
      return "- Call FAILURE! -----------------";
    case EventType::kGroupUpdate:
    case EventType::kRelationUpdate:
    case EventType::kAgentUpdate:
      return "- Groups/Agents update FAILURE---";
  }
  return nullptr;
}

// The collector's own clock, as the ACD server counts time.
uint32_t CollectorClock() { return static_cast<uint32_t>(std::time(nullptr)); }

}  // namespace

MessageDispatch::MessageDispatch(const std::string& server, ActivityLog* log,
                                 AcdConnection* connection, StatisticsWriter* writer,
                                 const ManualResetEvent* close_event, ReceiveBuffer* buffer,
                                 WorkerStats* stats)
    : server_(server),
      log_(log),
      connection_(connection),
      writer_(writer),
      close_event_(close_event),
      buffer_(buffer),
      stats_(stats) {}

void MessageDispatch::Run() {
  buffer_->fill(0);
  SendStartRequests();
  for (;;) {
    if (close_event_->IsSet()) return;
    AcdHeader header;
    size_t body_length = 0;
    if (!ReadMessage(&header, &body_length)) return;
    stats_->CountMessage(header.msg_class, header.msg_type);
    // A writer that can take no more (its database went away) ends the
    // pass; the message just read is dropped with it.
    if (!writer_->CheckConnection()) return;
    Handle(header, buffer_->data() + wire::kHeaderSize, body_length);
  }
}

void MessageDispatch::SendStartRequests() {
  // A request that cannot be sent shows up as a failed read right after.
  connection_->GetGroups();
  connection_->GetAllAgents();
  connection_->SubscribeConfig();
  connection_->SubscribeCDR(kAnyFilter);
  connection_->SubscribeStatus(kAnyFilter, kAnyFilter);
  connection_->SubscribeCall(kAnyFilter);
}

bool MessageDispatch::ReadMessage(AcdHeader* header, size_t* body_length) {
  uint8_t* const bytes = buffer_->data();
  if (connection_->Receive(bytes, wire::kHeaderSize, 0) <= 0) return false;
  *header = HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(bytes, wire::kHeaderSize));
  const std::optional<size_t> length = BodyLength(*header);
  if (!length) {
    // Nothing after such a header can be trusted to start a message: the
    // stream has lost its framing, so the pass ends and reconnects.
    log_->Write("Message length %u out of range (%zu to %zu), connection dropped", header->length,
                wire::kHeaderSize, wire::kMaxMessageSize);
    connection_->Close();
    return false;
  }
  *body_length = *length;
  // A message of header only (the subscription responses) has no body to read.
  if (*length == 0) return true;
  return connection_->Receive(bytes + wire::kHeaderSize, *length, 0) > 0;
}

void MessageDispatch::Handle(const AcdHeader& header, const uint8_t* body, size_t length) {
  switch (static_cast<MessageClass>(header.msg_class)) {
    case MessageClass::kResponse:
      HandleResponse(header, body, length);
      break;
    case MessageClass::kEvent:
      HandleEvent(header, body, length);
      break;
    case MessageClass::kRequest:
    default:
      break;
  }
}

void MessageDispatch::HandleResponse(const AcdHeader& header, const uint8_t* body, size_t length) {
  if (header.msg_type > static_cast<uint16_t>(RequestType::kGetAllAgents)) return;
  const auto type = static_cast<RequestType>(header.msg_type);
  if (header.result != wire::kResultSuccess) {
    if (type == RequestType::kStatus) {
      log_->Write("- Status FAILURE! ---------------");
    } else {
      log_->Write("- %s response ID-%d - FAILURE!", ResponseName(type),
                  static_cast<int>(header.request_id));
    }
    return;
  }
  switch (type) {
    case RequestType::kStatus:
      OnStatusResponse(header, body, length);
      break;
    case RequestType::kGetGroups:
      OnGroupList(header, body, length);
      break;
    case RequestType::kGetAgents:
      OnAgentList(header, body, length);
      break;
    case RequestType::kGetAllAgents:
      OnFullAgentList(header, body, length);
      break;
    default:  // subscriptions: the header says it all
      break;
  }
}

void MessageDispatch::HandleEvent(const AcdHeader& header, const uint8_t* body, size_t length) {
  if (header.msg_type >= wire::kEventTypeCount) return;
  const auto type = static_cast<EventType>(header.msg_type);
  if (header.result != wire::kResultSuccess) {
    log_->Write("%s", EventFailureLine(type));
    return;
  }
  switch (type) {
    case EventType::kStatus:
      OnStatusEvent(header, body, length);
      break;
    case EventType::kCdr:
      OnCdrEvent(header, body, length);
      break;
    case EventType::kCall:
      OnCallEvent(header, body, length);
      break;
    case EventType::kGroupUpdate:
    case EventType::kRelationUpdate:
    case EventType::kAgentUpdate:
      OnConfigUpdate(header, body, length);
      break;
  }
}

void MessageDispatch::OnStatusResponse(const AcdHeader& header, const uint8_t* body,
                                       size_t length) {
  const auto status = StatusBody::Decode(body, length);
  if (!status) return ReportShortBody(header, length);
  writer_->WriteRelationStatus(server_, status->group, status->agent, CollectorClock(),
                               status->status);
}

void MessageDispatch::OnGroupList(const AcdHeader& header, const uint8_t* body, size_t length) {
  const auto list = GroupList::Decode(body, length);
  if (!list) return ReportShortBody(header, length);
  for (size_t i = 0; i < list->groups.size(); ++i) {
    const std::string_view group = list->groups.Name(i);
    writer_->WriteGroup(server_, group, header.timestamp, kPresent, true, 0);
    connection_->GetAgents(group);
  }
  if (!list->groups.complete()) {
    ReportCutList(header, list->groups.declared_count(), list->groups.size());
  }
}

void MessageDispatch::OnAgentList(const AcdHeader& header, const uint8_t* body, size_t length) {
  const auto list = AgentList::Decode(body, length);
  if (!list) return ReportShortBody(header, length);
  for (size_t i = 0; i < list->agents.size(); ++i) {
    const std::string_view agent = list->agents.Name(i);
    connection_->GetStatus(list->group, agent);
    writer_->WriteRelation(server_, list->group, agent, header.timestamp, kPresent, true);
  }
  if (!list->agents.complete()) {
    ReportCutList(header, list->agents.declared_count(), list->agents.size());
  }
}

void MessageDispatch::OnFullAgentList(const AcdHeader& header, const uint8_t* body, size_t length) {
  const auto list = FullAgentList::Decode(body, length);
  if (!list) return ReportShortBody(header, length);
  for (size_t i = 0; i < list->entries.size(); ++i) {
    writer_->WriteAgent(server_, list->agent(i), list->full_name(i), header.timestamp, kPresent,
                        true);
  }
  if (!list->entries.complete()) {
    ReportCutList(header, list->entries.declared_count(), list->entries.size());
  }
}

void MessageDispatch::OnStatusEvent(const AcdHeader& header, const uint8_t* body, size_t length) {
  const auto status = StatusBody::Decode(body, length);
  if (!status) return ReportShortBody(header, length);
  writer_->WriteStatusInterval(server_, status->group, status->agent, header.timestamp,
                               status->status);
  writer_->WriteRelationStatus(server_, status->group, status->agent, header.timestamp,
                               status->status);
}

void MessageDispatch::OnCdrEvent(const AcdHeader& header, const uint8_t* body, size_t length) {
  const auto cdr = CdrBody::Decode(body, length);
  if (!cdr) return ReportShortBody(header, length);
  writer_->WriteCdr(server_, cdr->group, cdr->agent, cdr->caller_user, cdr->call_guid,
                    cdr->call_time, cdr->call_duration, cdr->call_state, cdr->close_reason,
                    cdr->queue_duration);
}

void MessageDispatch::OnCallEvent(const AcdHeader& header, const uint8_t* body, size_t length) {
  const auto call = CallBody::Decode(body, length);
  if (!call) return ReportShortBody(header, length);
  writer_->WriteCall(server_, call->group, call->agent, call->call_id, header.timestamp,
                     call->call_state, call->close_reason);
  writer_->WriteGroup(server_, call->group, header.timestamp, kPresent, false,
                      call->calls_in_queue);
}

void MessageDispatch::OnConfigUpdate(const AcdHeader& header, const uint8_t* body, size_t length) {
  const auto update = ConfigUpdateBody::Decode(body, length);
  if (!update) return ReportShortBody(header, length);
  switch (static_cast<EventType>(header.msg_type)) {
    case EventType::kGroupUpdate:
      writer_->WriteGroup(server_, update->group, header.timestamp, update->state, true, 0);
      if (update->state == kRemoved) {
        // An empty agent name marks every membership of the group.
        writer_->WriteRelation(server_, update->group, "", header.timestamp, kRemoved, true);
      }
      break;
    case EventType::kRelationUpdate:
      writer_->WriteRelation(server_, update->group, update->agent, header.timestamp, update->state,
                             true);
      break;
    case EventType::kAgentUpdate:
      writer_->WriteAgent(server_, update->agent, update->full_name, header.timestamp,
                          update->state, true);
      break;
    default:
      break;
  }
}

void MessageDispatch::ReportShortBody(const AcdHeader& header, size_t length) {
  log_->Write("- Message class %u type %u ID-%u too short (%zu bytes), dropped", header.msg_class,
              header.msg_type, header.request_id, length);
}

void MessageDispatch::ReportCutList(const AcdHeader& header, uint32_t declared, size_t arrived) {
  log_->Write("- Message class %u type %u ID-%u announces %u entries but holds %zu",
              header.msg_class, header.msg_type, header.request_id, declared, arrived);
}

}  // namespace callsink
