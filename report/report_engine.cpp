#include "report/report_engine.h"

#include <mysql.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "report/report_period.h"
#include "store/mysql_connection.h"
#include "store/mysql_result.h"
#include "store/sql_statement.h"

namespace callsink {
namespace {

// docs/reports.sql's definitions, in its words.
constexpr std::string_view kAnswered = "COALESCE(Agent_Name, '') <> ''";
constexpr std::string_view kSlot = " DIV 900";  // ReportPeriod::kSlotSeconds

std::string Text(char** fields, const unsigned long* lengths, int column) {
  const auto index = static_cast<size_t>(column);
  return fields[index] == nullptr ? std::string() : std::string(fields[index], lengths[index]);
}

int64_t Number(char** fields, int column) {
  const char* text = fields[static_cast<size_t>(column)];
  return text == nullptr ? 0 : std::stoll(text);
}

std::string Decimal(int64_t value) { return std::to_string(value); }

}  // namespace

ReportEngine::ReportEngine(MySqlConnection& connection) : connection_(connection) {}

bool ReportEngine::ForEachRow(std::string_view statement, const RowHandler& handler) {
  MYSQL* const mysql = connection_.get();
  if (mysql_real_query(mysql, statement.data(), statement.size()) != 0) {
    error_ = mysql_error(mysql);
    return false;
  }
  // Streamed: a month of status intervals need not fit in memory at once.
  const MySqlResult result(mysql_use_result(mysql));
  if (!result) {
    error_ = mysql_error(mysql);
    return false;
  }
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    handler(row, mysql_fetch_lengths(result.get()));
  }
  if (mysql_errno(mysql) != 0) {
    error_ = mysql_error(mysql);
    return false;
  }
  return true;
}

bool ReportEngine::Servers(const ReportParameters& parameters, std::vector<std::string>* servers) {
  if (!parameters.servers.empty()) {
    *servers = parameters.servers;
    return true;
  }
  return ForEachRow(
      "select Serv_Name from stock_groups union select Serv_Name from stock_agents "
      "union select Serv_Name from stock_time",
      [&](char** fields, const unsigned long* lengths) {
        if (fields[0] != nullptr) servers->push_back(Text(fields, lengths, 0));
      });
}

bool ReportEngine::ServerCondition(const ReportParameters& parameters, std::string* condition) {
  std::vector<std::string> servers;
  if (!Servers(parameters, &servers)) return false;
  SqlStatement statement;
  statement.Begin(connection_.get());
  // Every server by name, so that the (Serv_Name, time) indexes give one
  // range per server.
  if (servers.empty()) {
    statement.Add("FALSE");
  } else {
    statement.Add("Serv_Name IN (");
    for (size_t i = 0; i < servers.size(); ++i)
      statement.Add(i == 0 ? "" : ", ").Quoted(servers[i]);
    statement.Add(")");
  }
  *condition = statement.text();
  return true;
}

bool ReportEngine::RangeCondition(const ReportParameters& parameters, std::string_view column,
                                  int64_t from, std::string* condition) {
  if (!ServerCondition(parameters, condition)) return false;
  SqlStatement statement;
  statement.Begin(connection_.get()).Add(*condition);
  statement.Add(" AND ").Add(column).Add(" >= ").Add(Decimal(from));
  statement.Add(" AND ").Add(column).Add(" < ").Add(Decimal(parameters.until));
  if (!parameters.groups.empty()) {
    statement.Add(" AND Group_Name IN (");
    for (size_t i = 0; i < parameters.groups.size(); ++i) {
      statement.Add(i == 0 ? "" : ", ").Quoted(parameters.groups[i]);
    }
    statement.Add(")");
  }
  *condition = statement.text();
  return true;
}

bool ReportEngine::Groups(const ReportParameters& parameters, std::vector<GroupRow>* rows) {
  const ReportPeriod period(parameters);
  std::string calls_in_period;
  if (!RangeCondition(parameters, "Timestamp", parameters.from, &calls_in_period)) return false;
  // docs/reports.sql's calls and wrap-ups, summed per quarter hour.
  const std::string statement =
      "WITH calls AS ("
      " SELECT ID, Serv_Name, Group_Name, Agent_Name, Queue_Dur, Call_Dur, Timestamp, " +
      std::string(kAnswered) +
      " AS answered, Timestamp + Queue_Dur + Call_Dur AS ended"
      " FROM stock_cdr WHERE " +
      calls_in_period +
      "), wrap_ups AS ("
      " SELECT calls.ID, MIN(s.TimeEnd - s.TimeStart) AS seconds FROM calls JOIN stock_status s"
      " ON s.Serv_Name = calls.Serv_Name AND s.Group_Name = calls.Group_Name"
      " AND s.Agent_Name = calls.Agent_Name AND s.Status = " +
      Decimal(parameters.status.wrap_up) +
      " AND s.TimeStart BETWEEN calls.ended - 2 AND calls.ended + 5"
      " WHERE calls.answered GROUP BY calls.ID)"
      " SELECT calls.Serv_Name, calls.Group_Name, calls.Timestamp" +
      std::string(kSlot) +
      ", COUNT(*), SUM(calls.answered), SUM(calls.answered AND calls.Queue_Dur <= " +
      Decimal(parameters.service_level_seconds) +
      "), SUM(IF(calls.answered, calls.Queue_Dur, 0)), SUM(IF(calls.answered, calls.Call_Dur, 0)),"
      " COUNT(wrap_ups.seconds), COALESCE(SUM(wrap_ups.seconds), 0)"
      " FROM calls LEFT JOIN wrap_ups ON wrap_ups.ID = calls.ID GROUP BY 1, 2, 3";
  std::map<std::pair<std::string, std::string>, std::vector<GroupFigures>> groups;
  const size_t row_count = period.rows().size();
  const bool read = ForEachRow(statement, [&](char** fields, const unsigned long* lengths) {
    auto& figures = groups[{Text(fields, lengths, 0), Text(fields, lengths, 1)}];
    figures.resize(row_count);
    const int row = period.RowOfSlot(Number(fields, 2));
    if (row < 0) return;
    figures[static_cast<size_t>(row)].Add(
        GroupFigures{Number(fields, 3), Number(fields, 4), Number(fields, 5), Number(fields, 6),
                     Number(fields, 7), Number(fields, 8), Number(fields, 9)});
  });
  if (!read) return false;
  for (const auto& [key, figures] : groups) {
    for (size_t i = 0; i < row_count; ++i) {
      rows->push_back(GroupRow{key.first, key.second, period.rows()[i].start, period.rows()[i].end,
                               figures[i]});
    }
  }
  return true;
}

bool ReportEngine::Agents(const ReportParameters& parameters, std::vector<AgentRow>* rows) {
  const ReportPeriod period(parameters);
  const size_t row_count = period.rows().size();
  // One agent's time in one of its groups: the whole period's time logged
  // on, and per row the seconds of each status that counts.
  struct Membership {
    int64_t logged_on = 0;
    std::vector<int64_t> logged_on_per_row, available, on_calls, wrap_up;
  };
  using Agent = std::pair<std::string, std::string>;
  std::map<Agent, std::map<std::string, Membership>> agents;

  // docs/reports.sql's finished intervals (TimeStart > 0, TimeEnd >
  // TimeStart) that reach into the period.
  std::string intervals;
  const int64_t earliest = std::max<int64_t>(parameters.from - kLongestStatusSeconds, 1);
  if (!RangeCondition(parameters, "TimeStart", earliest, &intervals)) return false;
  const AcdStatusCodes& codes = parameters.status;
  const bool read_intervals = ForEachRow(
      "SELECT Serv_Name, Agent_Name, Group_Name, Status, TimeStart, TimeEnd FROM stock_status"
      " WHERE " +
          intervals + " AND TimeEnd > " + Decimal(parameters.from) + " AND TimeEnd > TimeStart",
      [&](char** fields, const unsigned long* lengths) {
        Membership& membership =
            agents[{Text(fields, lengths, 0), Text(fields, lengths, 1)}][Text(fields, lengths, 2)];
        if (membership.available.empty()) {
          for (auto* seconds : {&membership.logged_on_per_row, &membership.available,
                                &membership.on_calls, &membership.wrap_up}) {
            seconds->assign(row_count, 0);
          }
        }
        const int64_t status = Number(fields, 3);
        if (fields[3] == nullptr || status == codes.logged_out) return;
        const int64_t start = Number(fields, 4);
        const int64_t end = Number(fields, 5);
        membership.logged_on += period.Spread(start, end, membership.logged_on_per_row);
        if (status == codes.available) period.Spread(start, end, membership.available);
        if (status == codes.busy) period.Spread(start, end, membership.on_calls);
        if (status == codes.wrap_up) period.Spread(start, end, membership.wrap_up);
      });
  if (!read_intervals) return false;

  std::string calls_in_period;
  if (!RangeCondition(parameters, "Timestamp", parameters.from, &calls_in_period)) return false;
  std::map<Agent, std::vector<int64_t>> answered;
  const bool read_calls =
      ForEachRow("SELECT Serv_Name, Agent_Name, Timestamp" + std::string(kSlot) +
                     ", COUNT(*) FROM stock_cdr WHERE " + std::string(kAnswered) + " AND " +
                     calls_in_period + " GROUP BY 1, 2, 3",
                 [&](char** fields, const unsigned long* lengths) {
                   const int row = period.RowOfSlot(Number(fields, 2));
                   if (row < 0) return;
                   std::vector<int64_t>& calls =
                       answered[{Text(fields, lengths, 0), Text(fields, lengths, 1)}];
                   calls.resize(row_count);
                   calls[static_cast<size_t>(row)] += Number(fields, 3);
                 });
  if (!read_calls) return false;

  std::map<Agent, std::string> names;
  std::string agents_of_servers;
  if (!ServerCondition(parameters, &agents_of_servers)) return false;
  const bool read_names = ForEachRow(
      "SELECT Serv_Name, Agent_Name, Agent_FullName FROM stock_agents WHERE " + agents_of_servers,
      [&](char** fields, const unsigned long* lengths) {
        names[{Text(fields, lengths, 0), Text(fields, lengths, 1)}] = Text(fields, lengths, 2);
      });
  if (!read_names) return false;

  for (const auto& [agent, memberships] : agents) {
    // The group logged on longest; the first by name among equals.
    const Membership* longest = nullptr;
    for (const auto& [group, membership] : memberships) {
      if (longest == nullptr || membership.logged_on > longest->logged_on) longest = &membership;
    }
    const auto calls = answered.find(agent);
    const auto name = names.find(agent);
    for (size_t i = 0; i < row_count; ++i) {
      rows->push_back(AgentRow{
          agent.first, agent.second, name == names.end() ? std::string() : name->second,
          period.rows()[i].start, period.rows()[i].end,
          AgentFigures{longest->logged_on_per_row[i], longest->available[i], longest->on_calls[i],
                       longest->wrap_up[i], calls == answered.end() ? 0 : calls->second[i]}});
    }
  }
  return true;
}

bool ReportEngine::Abandoned(const ReportParameters& parameters,
                             std::vector<AbandonedCall>* calls) {
  const ReportPeriod period(parameters);
  std::string calls_in_period;
  if (!RangeCondition(parameters, "Timestamp", parameters.from, &calls_in_period)) return false;
  return ForEachRow(
      "SELECT Serv_Name, Group_Name, Timestamp, Queue_Dur, Caller_Usur, Call_GUID FROM stock_cdr"
      " WHERE NOT " +
          std::string(kAnswered) + " AND " + calls_in_period + " ORDER BY Timestamp, Serv_Name, ID",
      [&](char** fields, const unsigned long* lengths) {
        const int64_t time = Number(fields, 2);
        if (period.RowOfSlot(time / ReportPeriod::kSlotSeconds) < 0) return;
        calls->push_back(AbandonedCall{Text(fields, lengths, 0), Text(fields, lengths, 1), time,
                                       Number(fields, 3), Text(fields, lengths, 4),
                                       Text(fields, lengths, 5)});
      });
}

}  // namespace callsink
