#pragma once

#include "worker/statistics_writer.h"

namespace callsink {

class AcdDatabase;

// The statistics writes straight into the worker's store, one statement at
// a time, as they arrive. The connection check is AcdDatabase::Ping.
class DatabaseWriter : public StatisticsWriter {
 public:
  // `database` is the worker's, not owned, and outlives the writer.
  explicit DatabaseWriter(AcdDatabase* database) : database_(database) {}

  bool CheckConnection() override;
  void WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                  int32_t state, bool modified, int32_t calls_in_queue) override;
  void WriteAgent(std::string_view server, std::string_view agent, std::string_view full_name,
                  uint32_t timestamp, int32_t state, bool modified) override;
  void WriteRelation(std::string_view server, std::string_view group, std::string_view agent,
                     uint32_t timestamp, int32_t state, bool modified) override;
  void WriteStatusInterval(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status) override;
  void WriteRelationStatus(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status) override;
  void WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                std::string_view caller_user, std::string_view call_guid, uint32_t timestamp,
                int32_t call_duration, int32_t call_state, int32_t close_reason,
                int32_t queue_duration) override;
  void WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                 std::string_view call_id, uint32_t timestamp, int32_t call_state,
                 int32_t close_reason) override;

 private:
  AcdDatabase* const database_;
};

}  // namespace callsink
