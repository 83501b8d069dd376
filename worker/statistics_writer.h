#pragma once

#include <cstdint>
#include <string_view>

namespace callsink {

// Where the dispatch puts what it decoded: the statistics writes it makes and
// the connection check before each message. DatabaseWriter writes each call
// at once into the worker's AcdDatabase; another implementation may keep the
// calls (a journal, say) and apply them later through a DatabaseWriter,
// without the decoders or the handlers noticing.
//
// Text arguments are valid during the call only. The arguments of each write
// are those of the AcdDatabase writer of the same name. A write that fails is
// the writer's to report (the store logs it); the dispatch goes on with the
// next message. Used on the worker's thread.
class StatisticsWriter {
 public:
  virtual ~StatisticsWriter() = default;

  // Asked before each message is handled. False ends the pass; the message
  // just read is dropped with it.
  virtual bool CheckConnection() = 0;

  // Directory rows.
  virtual void WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                          int32_t state, bool modified, int32_t calls_in_queue) = 0;
  virtual void WriteAgent(std::string_view server, std::string_view agent,
                          std::string_view full_name, uint32_t timestamp, int32_t state,
                          bool modified) = 0;
  // An empty `agent` stands for every membership of the group.
  virtual void WriteRelation(std::string_view server, std::string_view group,
                             std::string_view agent, uint32_t timestamp, int32_t state,
                             bool modified) = 0;

  // Events.
  virtual void WriteStatusInterval(std::string_view server, std::string_view group,
                                   std::string_view agent, uint32_t timestamp, int32_t status) = 0;
  virtual void WriteRelationStatus(std::string_view server, std::string_view group,
                                   std::string_view agent, uint32_t timestamp, int32_t status) = 0;
  virtual void WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                        std::string_view caller_user, std::string_view call_guid,
                        uint32_t timestamp, int32_t call_duration, int32_t call_state,
                        int32_t close_reason, int32_t queue_duration) = 0;
  virtual void WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                         std::string_view call_id, uint32_t timestamp, int32_t call_state,
                         int32_t close_reason) = 0;
};

}  // namespace callsink
