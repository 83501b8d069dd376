#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/acd_header.h"
#include "protocol/wire_format.h"

namespace callsink {

class AcdConnection;
class ActivityLog;
class ManualResetEvent;
class StatisticsWriter;
class WorkerStats;

// One pass of a worker while both of its connections are up: asks the ACD
// server for its directory, subscribes to its event streams, then reads one
// message at a time into the worker's receive buffer and turns each response
// and event into statistics writes. Directory answers fan out into follow-up
// requests: GetGroups -> GetAgents per group -> Status per member.
//
// Every object is the worker's and outlives the dispatch; all calls run on
// the worker's thread. Only the close event and the worker's figures (which
// count every message read) are shared with other threads.
class MessageDispatch {
 public:
  using ReceiveBuffer = std::array<uint8_t, wire::kMaxMessageSize>;

  // `server` is the configuration's acdServer, the Serv_Name of every row.
  MessageDispatch(const std::string& server, ActivityLog* log, AcdConnection* connection,
                  StatisticsWriter* writer, const ManualResetEvent* close_event,
                  ReceiveBuffer* buffer, WorkerStats* stats);
  MessageDispatch(const MessageDispatch&) = delete;
  MessageDispatch& operator=(const MessageDispatch&) = delete;

  // Sends the six start requests, then handles messages until the
  // connection fails, the writer's connection check fails, a message's
  // length does not fit the buffer, or the close event is seen between two
  // messages.
  void Run();

 private:
  void SendStartRequests();
  // Reads one whole message into the buffer; false ends the pass.
  bool ReadMessage(AcdHeader* header, size_t* body_length);
  void Handle(const AcdHeader& header, const uint8_t* body, size_t length);
  void HandleResponse(const AcdHeader& header, const uint8_t* body, size_t length);
  void HandleEvent(const AcdHeader& header, const uint8_t* body, size_t length);

  void OnStatusResponse(const AcdHeader& header, const uint8_t* body, size_t length);
  void OnGroupList(const AcdHeader& header, const uint8_t* body, size_t length);
  void OnAgentList(const AcdHeader& header, const uint8_t* body, size_t length);
  void OnFullAgentList(const AcdHeader& header, const uint8_t* body, size_t length);
  void OnStatusEvent(const AcdHeader& header, const uint8_t* body, size_t length);
  void OnCdrEvent(const AcdHeader& header, const uint8_t* body, size_t length);
  void OnCallEvent(const AcdHeader& header, const uint8_t* body, size_t length);
  void OnConfigUpdate(const AcdHeader& header, const uint8_t* body, size_t length);

  void ReportShortBody(const AcdHeader& header, size_t length);
  void ReportCutList(const AcdHeader& header, uint32_t declared, size_t arrived);

  const std::string server_;
  ActivityLog* const log_;
  AcdConnection* const connection_;
  StatisticsWriter* const writer_;
  const ManualResetEvent* const close_event_;
  ReceiveBuffer* const buffer_;
  WorkerStats* const stats_;
};

}  // namespace callsink
