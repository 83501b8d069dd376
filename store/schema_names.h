#pragma once

namespace callsink::schema {

// The statistics database and its seven tables, for code that names one of
// them as a value: the collector creates them, the manager deletes from them
// or drops the database. Statement texts spell the names out in full.
inline constexpr const char* kDatabase = "acd_db";
inline constexpr const char* kGroupsTable = "stock_groups";
inline constexpr const char* kAgentsTable = "stock_agents";
inline constexpr const char* kRelationsTable = "stock_relations";
inline constexpr const char* kStatusTable = "stock_status";
inline constexpr const char* kCdrTable = "stock_cdr";
inline constexpr const char* kCallsTable = "stock_calls";
inline constexpr const char* kTimeTable = "stock_time";

}  // namespace callsink::schema
