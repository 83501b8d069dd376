#pragma once

#include "store/acd_batch.h"
#include "store/acd_database.h"
#include "worker/statistics_writer.h"

namespace callsink {

// The statistics writes into a store: AcdDatabase sends one statement per
// call (failures logged there), AcdBatch folds them into its batch.
template <typename Store>
class StoreWriter : public StatisticsWriter {
 public:
  // `store` is not owned and outlives the writer.
  explicit StoreWriter(Store* store) : store_(store) {}

  void WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                  int32_t state, bool modified, int32_t calls_in_queue) override {
    store_->WriteGroup(server, group, timestamp, state, modified, calls_in_queue);
  }
  void WriteAgent(std::string_view server, std::string_view agent, std::string_view full_name,
                  uint32_t timestamp, int32_t state, bool modified) override {
    store_->WriteAgent(server, agent, full_name, timestamp, state, modified);
  }
  void WriteRelation(std::string_view server, std::string_view group, std::string_view agent,
                     uint32_t timestamp, int32_t state, bool modified) override {
    store_->WriteRelation(server, group, agent, timestamp, state, modified);
  }
  void WriteStatusInterval(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status) override {
    store_->WriteStatusInterval(server, group, agent, timestamp, status);
  }
  void WriteRelationStatus(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status) override {
    store_->WriteRelationStatus(server, group, agent, timestamp, status);
  }
  void WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                std::string_view caller_user, std::string_view call_guid, uint32_t timestamp,
                int32_t call_duration, int32_t call_state, int32_t close_reason,
                int32_t queue_duration) override {
    store_->WriteCdr(server, group, agent, caller_user, call_guid, timestamp, call_duration,
                     call_state, close_reason, queue_duration);
  }
  void WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                 std::string_view call_id, uint32_t timestamp, int32_t call_state,
                 int32_t close_reason) override {
    store_->WriteCall(server, group, agent, call_id, timestamp, call_state, close_reason);
  }

 private:
  Store* const store_;
};

using DatabaseWriter = StoreWriter<AcdDatabase>;
using BatchWriter = StoreWriter<AcdBatch>;

}  // namespace callsink
