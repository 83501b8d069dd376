#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace callsink::test {

// What the store should hold for one ACD server after handling, in order,
// the messages an ACD server sent on one connection: the statements'
// effects replayed on maps. Times the collector takes from its own clock
// (the Status response) show as "CLOCK"; callers run acdsim with a clock far
// ahead of the real one, so those times always lie before the server's.
class ExpectedStore {
 public:
  // Replays one message in wire form (header and body).
  void Apply(const std::vector<uint8_t>& message);
  // Replays every message an acdsim record shows the server sending on
  // `connection` (its number in the record).
  void ApplyRecord(const std::string& record_file, const std::string& connection);
  // Those messages, in wire form.
  static std::vector<std::vector<uint8_t>> RecordMessages(const std::string& record_file,
                                                          const std::string& connection);
  // A new pass: the directory of the server is cleared.
  void ClearDirectory();
  // The server's rows deleted from every table (or the database dropped).
  void DeleteServerData();

  // Rows as "|"-joined columns, sorted, NULL as "NULL":
  // Group_Name|Timestamp|State|Modified|Calls_inQueue
  std::vector<std::string> Groups() const;
  // Agent_Name|Agent_FullName|Timestamp|State|Modified
  std::vector<std::string> Agents() const;
  // Group_Name|Agent_Name|Timestamp|State|Modified|Status
  std::vector<std::string> Relations() const;
  // Group_Name|Agent_Name|TimeStart|TimeEnd|Status, in insertion order
  const std::vector<std::string>& StatusRows() const { return status_rows_; }
  // Group_Name|Agent_Name|Timestamp|Call_ID|Call_State|Close_Reason, in order
  const std::vector<std::string>& Calls() const { return calls_; }
  // Group_Name|Agent_Name|Timestamp|Call_Dur|Caller_Usur|Call_GUID|Call_State|
  // Close_Reason|Queue_Dur, in order
  const std::vector<std::string>& Cdrs() const { return cdrs_; }
  // Messages replayed, by "class:type".
  const std::map<std::string, int>& counts() const { return counts_; }
  // Events replayed (class 2).
  size_t events() const;
  // Rows the statements insert or update, by table (stock_time not kept).
  const std::map<std::string, int>& rows_written() const { return rows_written_; }

 private:
  // A time is either the ACD server's or the collector's clock (empty).
  using Time = std::optional<uint32_t>;
  struct Group {
    uint32_t timestamp;
    int32_t state;
    uint32_t modified;
    int32_t calls_in_queue;
  };
  struct Agent {
    std::string full_name;
    uint32_t timestamp;
    int32_t state;
    uint32_t modified;
  };
  struct Relation {
    std::optional<Time> timestamp;
    std::optional<int32_t> state;
    std::optional<uint32_t> modified;
    std::optional<int32_t> status;
  };
  using Membership = std::pair<std::string, std::string>;

  void WriteGroup(const std::string& group, uint32_t timestamp, int32_t state, bool modified,
                  int32_t calls_in_queue);
  void WriteAgent(const std::string& agent, const std::string& full_name, uint32_t timestamp,
                  int32_t state, bool modified);
  void WriteRelation(const std::string& group, const std::string& agent, uint32_t timestamp,
                     int32_t state);
  void WriteRelationStatus(const std::string& group, const std::string& agent, Time timestamp,
                           int32_t status);
  void WriteStatusInterval(const std::string& group, const std::string& agent, uint32_t timestamp,
                           int32_t status);

  std::map<std::string, Group> groups_;
  std::map<std::string, Agent> agents_;
  std::map<Membership, Relation> relations_;
  std::vector<std::string> status_rows_;
  std::vector<std::string> calls_;
  std::vector<std::string> cdrs_;
  std::map<std::string, int> counts_;
  std::map<std::string, int> rows_written_;
};

}  // namespace callsink::test
