#include "store/statement_texts.h"

namespace callsink::statement_texts {
namespace {

constexpr std::string_view kUpdateTimestamp = " ) ON DUPLICATE KEY UPDATE Timestamp=";
constexpr std::string_view kModifiedCounts = ", Modified=Modified+1";

// ", State=<state>" and, when `modified`, the Modified count: the update
// every directory row ends with.
void AddStateUpdate(SqlStatement& statement, int32_t state, bool modified) {
  statement.Add(", State=").Signed(state).Add(modified ? kModifiedCounts : "");
}

}  // namespace

void AddGroupUpdate(SqlStatement& statement, uint32_t timestamp, int32_t state, bool modified,
                    int32_t calls_in_queue) {
  statement.Add(kUpdateTimestamp).Unsigned(timestamp);
  AddStateUpdate(statement, state, modified);
  statement.Add(", Calls_inQueue=").Signed(calls_in_queue);
}

void AddAgentUpdate(SqlStatement& statement, uint32_t timestamp, std::string_view full_name,
                    int32_t state, bool modified) {
  statement.Add(kUpdateTimestamp).Unsigned(timestamp).Add(", Agent_FullName=").Quoted(full_name);
  AddStateUpdate(statement, state, modified);
}

void AddRelationUpdate(SqlStatement& statement, uint32_t timestamp, int32_t state, bool modified) {
  statement.Add(kUpdateTimestamp).Unsigned(timestamp);
  AddStateUpdate(statement, state, modified);
}

void AddRelationStatusUpdate(SqlStatement& statement, int32_t status, uint32_t timestamp) {
  statement.Add(" ) ON DUPLICATE KEY UPDATE Status=")
      .Signed(status)
      .Add(", Timestamp=")
      .Unsigned(timestamp);
}

std::string_view FoldedGroupUpdate(bool modified) {
  return modified ? " ) ON DUPLICATE KEY UPDATE Timestamp=VALUES(Timestamp), State=VALUES(State), "
                    "Modified=Modified+1, Calls_inQueue=VALUES(Calls_inQueue)"
                  : " ) ON DUPLICATE KEY UPDATE Timestamp=VALUES(Timestamp), State=VALUES(State), "
                    "Calls_inQueue=VALUES(Calls_inQueue)";
}

std::string_view FoldedAgentUpdate(bool modified) {
  return modified ? " ) ON DUPLICATE KEY UPDATE Timestamp=VALUES(Timestamp), "
                    "Agent_FullName=VALUES(Agent_FullName), State=VALUES(State), "
                    "Modified=Modified+1"
                  : " ) ON DUPLICATE KEY UPDATE Timestamp=VALUES(Timestamp), "
                    "Agent_FullName=VALUES(Agent_FullName), State=VALUES(State)";
}

std::string_view FoldedRelationUpdate(bool modified) {
  return modified ? " ) ON DUPLICATE KEY UPDATE Timestamp=VALUES(Timestamp), State=VALUES(State), "
                    "Modified=Modified+1"
                  : " ) ON DUPLICATE KEY UPDATE Timestamp=VALUES(Timestamp), State=VALUES(State)";
}

std::string_view FoldedRelationStatusUpdate() {
  return " ) ON DUPLICATE KEY UPDATE Status=VALUES(Status), Timestamp=VALUES(Timestamp)";
}

void AddGroupMembershipsUpdate(SqlStatement& statement, std::string_view server,
                               std::string_view group, uint32_t timestamp, int32_t state) {
  statement.Add("UPDATE stock_relations SET Timestamp=")
      .Unsigned(timestamp)
      .Add(", State=")
      .Signed(state)
      .Add(", Modified=Modified+1 WHERE Serv_Name=")
      .Quoted(server)
      .Add(" and Group_Name=")
      .Quoted(group)
      .Add("; ");
}

void AddTimeDiff(SqlStatement& statement, std::string_view server, uint64_t timestamp) {
  statement.Add("insert into stock_time ( Serv_Name, TimeDiff ) values ( ")
      .Quoted(server)
      .Add(", Unix_timestamp(Now())-")
      .Unsigned(timestamp)
      .Add(" ) ON DUPLICATE KEY UPDATE TimeDiff=Unix_timestamp(Now())-")
      .Unsigned(timestamp);
}

}  // namespace callsink::statement_texts
