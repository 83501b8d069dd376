#include "worker/database_writer.h"

#include "store/acd_database.h"

namespace callsink {

bool DatabaseWriter::CheckConnection() { return database_->Ping(); }

void DatabaseWriter::WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                                int32_t state, bool modified, int32_t calls_in_queue) {
  database_->WriteGroup(server, group, timestamp, state, modified, calls_in_queue);
}

void DatabaseWriter::WriteAgent(std::string_view server, std::string_view agent,
                                std::string_view full_name, uint32_t timestamp, int32_t state,
                                bool modified) {
  database_->WriteAgent(server, agent, full_name, timestamp, state, modified);
}

void DatabaseWriter::WriteRelation(std::string_view server, std::string_view group,
                                   std::string_view agent, uint32_t timestamp, int32_t state,
                                   bool modified) {
  database_->WriteRelation(server, group, agent, timestamp, state, modified);
}

void DatabaseWriter::WriteStatusInterval(std::string_view server, std::string_view group,
                                         std::string_view agent, uint32_t timestamp,
                                         int32_t status) {
  database_->WriteStatusInterval(server, group, agent, timestamp, status);
}

void DatabaseWriter::WriteRelationStatus(std::string_view server, std::string_view group,
                                         std::string_view agent, uint32_t timestamp,
                                         int32_t status) {
  database_->WriteRelationStatus(server, group, agent, timestamp, status);
}

void DatabaseWriter::WriteCdr(std::string_view server, std::string_view group,
                              std::string_view agent, std::string_view caller_user,
                              std::string_view call_guid, uint32_t timestamp, int32_t call_duration,
                              int32_t call_state, int32_t close_reason, int32_t queue_duration) {
  database_->WriteCdr(server, group, agent, caller_user, call_guid, timestamp, call_duration,
                      call_state, close_reason, queue_duration);
}

void DatabaseWriter::WriteCall(std::string_view server, std::string_view group,
                               std::string_view agent, std::string_view call_id, uint32_t timestamp,
                               int32_t call_state, int32_t close_reason) {
  database_->WriteCall(server, group, agent, call_id, timestamp, call_state, close_reason);
}

}  // namespace callsink
