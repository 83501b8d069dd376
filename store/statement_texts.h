#pragma once

#include <cstdint>
#include <string_view>

#include "store/sql_statement.h"

// The pieces of the statements that write rows, shared by the store's
// one-statement-per-call writers (AcdDatabase) and by its batch (AcdBatch),
// which folds the rows of many calls into one statement per table. A batch
// of one row sends exactly the text the writer would.
namespace callsink::statement_texts {

inline constexpr std::string_view kInsertGroup =
    "insert into stock_groups ( Serv_Name, Group_Name, Timestamp, State, Modified, "
    "Calls_inQueue ) values ( ";
inline constexpr std::string_view kInsertAgent =
    "insert into stock_agents ( Serv_Name, Agent_Name, Agent_FullName, Timestamp, State, "
    "Modified ) values ( ";
inline constexpr std::string_view kInsertRelation =
    "insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, Timestamp, State, "
    "Modified ) values ( ";
inline constexpr std::string_view kInsertRelationStatus =
    "insert into stock_relations ( Serv_Name, Group_Name, Agent_Name, Timestamp, Status ) "
    "values ( ";
inline constexpr std::string_view kInsertInterval =
    "insert into stock_status ( Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, Status ) "
    "values ( ";
inline constexpr std::string_view kInsertCdr =
    "insert into stock_cdr ( Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
    "Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur ) values ( ";
inline constexpr std::string_view kInsertCall =
    "insert into stock_calls ( Serv_Name, Group_Name, Agent_Name, Timestamp, Call_ID, "
    "Call_State, Close_Reason ) values ( ";
// Between two rows of one statement; after the last row of a plain insert.
inline constexpr std::string_view kNextRow = " ), ( ";
inline constexpr std::string_view kLastRow = " ) ";
// The Modified count a directory row is inserted with.
inline constexpr int32_t kCounted = 1;

// The update that ends a one-row insert, with the row's own values.
void AddGroupUpdate(SqlStatement& statement, uint32_t timestamp, int32_t state, bool modified,
                    int32_t calls_in_queue);
void AddAgentUpdate(SqlStatement& statement, uint32_t timestamp, std::string_view full_name,
                    int32_t state, bool modified);
void AddRelationUpdate(SqlStatement& statement, uint32_t timestamp, int32_t state, bool modified);
void AddRelationStatusUpdate(SqlStatement& statement, int32_t status, uint32_t timestamp);

// The update that ends an insert of many rows: each row's own values.
std::string_view FoldedGroupUpdate(bool modified);
std::string_view FoldedAgentUpdate(bool modified);
std::string_view FoldedRelationUpdate(bool modified);
std::string_view FoldedRelationStatusUpdate();

// Whole statements.
// Every membership of `group`: Timestamp, State, and Modified raised by 1.
void AddGroupMembershipsUpdate(SqlStatement& statement, std::string_view server,
                               std::string_view group, uint32_t timestamp, int32_t state);
// The database server's clock minus `timestamp` (64 bits: an ACD time plus
// an age may pass 2^32).
void AddTimeDiff(SqlStatement& statement, std::string_view server, uint64_t timestamp);

}  // namespace callsink::statement_texts
