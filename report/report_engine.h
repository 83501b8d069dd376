#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_parameters.h"
#include "report/report_rows.h"
#include "report/report_sheet.h"

namespace callsink {

class MySqlConnection;

// The reports of acd_db: per group and per agent, by interval or in total,
// and the abandoned calls. Every figure is defined as in docs/reports.sql,
// so a report's totals (ReportInterval::kWhole) equal that file's for the
// same period, and its rows add up to them.
//
// The history is read by ranges of (Serv_Name, Timestamp) and (Serv_Name,
// TimeStart). A status interval counts for the seconds of it that fall in
// each row; one that began more than kLongestStatusSeconds before the period
// is not read (an agent who kept one status for more than a day: the range
// would otherwise reach back to the beginning of the history). Used by the
// thread that owns the connection.
class ReportEngine {
 public:
  static constexpr int64_t kLongestStatusSeconds = 24 * 3600;
  // A call's wrap-up is the agent's wrap-up interval in the call's group
  // that began from kWrapUpEarly before until kWrapUpLate after the call
  // ended (the shortest, should there be several).
  static constexpr int64_t kWrapUpEarly = 2;
  static constexpr int64_t kWrapUpLate = 5;

  // `connection` is connected with acd_db selected and must outlive the
  // engine.
  explicit ReportEngine(MySqlConnection& connection);

  // Each false return leaves error() with the server's reason; the rows are
  // then incomplete.
  //
  // One row per group that took calls in the period and per interval of the
  // period, in the order of server, group and time; intervals without calls
  // are rows of zeros. A call counts in the interval it came in.
  bool Groups(const ReportParameters& parameters, std::vector<GroupRow>* rows);
  // One row per agent with a status in the period and per interval. An agent
  // reports a status in each of its groups: the figures are those of the
  // group in which the agent was logged on longest in the whole period (the
  // first by name on a tie); answered counts the agent's calls of every
  // group asked for.
  bool Agents(const ReportParameters& parameters, std::vector<AgentRow>* rows);
  // The calls that ended without an agent, in the order they came in.
  bool Abandoned(const ReportParameters& parameters, std::vector<AbandonedCall>* calls);
  // The report `kind` names ("groups", "agents" or "abandoned") as a sheet;
  // nothing when it cannot be read (error() says why).
  std::optional<ReportSheet> Sheet(std::string_view kind, const ReportParameters& parameters);

  const std::string& error() const { return error_; }

 private:
  // One CDR: a call offered.
  struct Call {
    std::string server, group, agent;
    int64_t came_in = 0;  // Timestamp
    int64_t queue = 0;    // Queue_Dur: seconds waited
    int64_t talk = 0;     // Call_Dur: from answer to end
    std::string caller, guid;

    // Taken by an agent; otherwise abandoned in the queue.
    bool answered() const { return !agent.empty(); }
    int64_t ended() const { return came_in + queue + talk; }
  };
  using RowHandler = std::function<void(char** fields, const unsigned long* lengths)>;

  // The servers asked for, or every server of acd_db's directory tables.
  bool Servers(const ReportParameters& parameters, std::vector<std::string>* servers);
  // "Serv_Name IN (...)", the values escaped for the connection.
  bool ServerCondition(const ReportParameters& parameters, std::string* condition);
  // The server condition "AND <column> >= from AND <column> < until" and the
  // groups asked for.
  bool RangeCondition(const ReportParameters& parameters, std::string_view column, int64_t from,
                      std::string* condition);
  // The calls that came in in the period, of the servers and groups asked
  // for, in no particular order.
  bool ReadCalls(const ReportParameters& parameters, std::vector<Call>* calls);
  // Runs `statement` and calls `handler` for each row of its result.
  bool ForEachRow(std::string_view statement, const RowHandler& handler);

  MySqlConnection& connection_;
  std::string error_;
};

}  // namespace callsink
