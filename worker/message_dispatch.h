#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/acd_header.h"

namespace callsink {

class AcdConnection;
class ActivityLog;
class StatisticsWriter;

// Turns one message of an ACD server into what it means: statistics writes,
// the follow-up requests a directory answer calls for (GetGroups -> GetAgents
// per group -> Status per member), and a log line for a failure result, a
// body too short for its layout or a list that holds fewer entries than it
// announces. Each part goes where the owner says: a worker's reader sends
// the requests and writes the lines when a message arrives and discards the
// writes; its applier makes the writes when it applies the message from the
// journal, without requests or lines.
//
// Every object is the caller's and outlives the dispatch; used on one
// thread.
class MessageDispatch {
 public:
  // `server` is the configuration's acdServer, the Serv_Name of every row.
  // `log` gets the lines (an unopened log takes none); `requests` sends the
  // follow-up requests (null: none are sent).
  MessageDispatch(const std::string& server, ActivityLog* log, AcdConnection* requests,
                  StatisticsWriter* writer);
  MessageDispatch(const MessageDispatch&) = delete;
  MessageDispatch& operator=(const MessageDispatch&) = delete;

  // Handles one whole message: its header and `length` bytes of body.
  // `received` is the collector's clock when the message arrived (seconds
  // since 1970), the time a Status response records.
  void Handle(const AcdHeader& header, const uint8_t* body, size_t length, uint32_t received);

 private:
  void HandleResponse(const AcdHeader& header, const uint8_t* body, size_t length,
                      uint32_t received);
  void HandleEvent(const AcdHeader& header, const uint8_t* body, size_t length);

  void OnStatusResponse(const AcdHeader& header, const uint8_t* body, size_t length,
                        uint32_t received);
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
  AcdConnection* const requests_;
  StatisticsWriter* const writer_;
};

}  // namespace callsink
