#include "report/report_engine.h"

#include <mysql.h>

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "report/report_period.h"
#include "store/mysql_connection.h"
#include "store/mysql_result.h"
#include "store/sql_statement.h"

namespace callsink {
namespace {

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

bool ReportEngine::ReadCalls(const ReportParameters& parameters, std::vector<Call>* calls) {
  std::string in_period;
  if (!RangeCondition(parameters, "Timestamp", parameters.from, &in_period)) return false;
  return ForEachRow(
      "SELECT Serv_Name, Group_Name, Agent_Name, Timestamp, Queue_Dur, Call_Dur, Caller_Usur,"
      " Call_GUID FROM stock_cdr WHERE " +
          in_period,
      [&](char** fields, const unsigned long* lengths) {
        calls->push_back(Call{Text(fields, lengths, 0), Text(fields, lengths, 1),
                              Text(fields, lengths, 2), Number(fields, 3), Number(fields, 4),
                              Number(fields, 5), Text(fields, lengths, 6),
                              Text(fields, lengths, 7)});
      });
}

bool ReportEngine::Groups(const ReportParameters& parameters, std::vector<GroupRow>* rows) {
  const ReportPeriod period(parameters);
  std::vector<Call> calls;
  if (!ReadCalls(parameters, &calls)) return false;

  // The wrap-ups that began while an answered call of the period ended, by
  // agent and group, in the order they began: one range of (Serv_Name,
  // TimeStart).
  int64_t first_end = std::numeric_limits<int64_t>::max();
  int64_t last_end = std::numeric_limits<int64_t>::min();
  for (const Call& call : calls) {
    if (!call.answered()) continue;
    first_end = std::min(first_end, call.ended());
    last_end = std::max(last_end, call.ended());
  }
  using Membership = std::tuple<std::string, std::string, std::string>;     // server, group, agent
  std::map<Membership, std::vector<std::pair<int64_t, int64_t>>> wrap_ups;  // start, seconds
  std::string servers;
  if (first_end <= last_end) {
    if (!ServerCondition(parameters, &servers)) return false;
    const bool read = ForEachRow(
        "SELECT Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd - TimeStart FROM stock_status"
        " WHERE " +
            servers + " AND TimeStart BETWEEN " + Decimal(first_end - kWrapUpEarly) + " AND " +
            Decimal(last_end + kWrapUpLate) +
            " AND Status = " + Decimal(parameters.status.wrap_up) + " AND TimeEnd >= TimeStart",
        [&](char** fields, const unsigned long* lengths) {
          wrap_ups[{Text(fields, lengths, 0), Text(fields, lengths, 1), Text(fields, lengths, 2)}]
              .emplace_back(Number(fields, 3), Number(fields, 4));
        });
    if (!read) return false;
    for (auto& [membership, intervals] : wrap_ups) std::sort(intervals.begin(), intervals.end());
  }

  std::map<std::pair<std::string, std::string>, std::vector<GroupFigures>> groups;
  const size_t row_count = period.rows().size();
  for (const Call& call : calls) {
    std::vector<GroupFigures>& figures = groups[{call.server, call.group}];
    figures.resize(row_count);
    const int row = period.RowOfSlot(call.came_in / ReportPeriod::kSlotSeconds);
    if (row < 0) continue;
    GroupFigures& counted = figures[static_cast<size_t>(row)];
    ++counted.offered;
    if (!call.answered()) continue;
    ++counted.answered;
    if (call.queue <= parameters.service_level_seconds) ++counted.answered_in_time;
    counted.wait_seconds += call.queue;
    counted.talk_seconds += call.talk;
    // docs/reports.sql's wrap-up of a call: the shortest that the agent began
    // in the call's group from kWrapUpEarly before to kWrapUpLate after the
    // call ended.
    const auto intervals = wrap_ups.find({call.server, call.group, call.agent});
    if (intervals == wrap_ups.end()) continue;
    std::optional<int64_t> shortest;
    for (auto it = std::lower_bound(intervals->second.begin(), intervals->second.end(),
                                    std::pair{call.ended() - kWrapUpEarly, int64_t{0}});
         it != intervals->second.end() && it->first <= call.ended() + kWrapUpLate; ++it) {
      shortest = std::min(shortest.value_or(it->second), it->second);
    }
    if (!shortest) continue;
    ++counted.wrap_ups;
    counted.wrap_up_seconds += *shortest;
  }
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

  std::vector<Call> calls;
  if (!ReadCalls(parameters, &calls)) return false;
  std::map<Agent, std::vector<int64_t>> answered;
  for (const Call& call : calls) {
    const int row = period.RowOfSlot(call.came_in / ReportPeriod::kSlotSeconds);
    if (!call.answered() || row < 0) continue;
    std::vector<int64_t>& taken = answered[{call.server, call.agent}];
    taken.resize(row_count);
    ++taken[static_cast<size_t>(row)];
  }

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
    const auto taken = answered.find(agent);
    const auto name = names.find(agent);
    for (size_t i = 0; i < row_count; ++i) {
      rows->push_back(AgentRow{
          agent.first, agent.second, name == names.end() ? std::string() : name->second,
          period.rows()[i].start, period.rows()[i].end,
          AgentFigures{longest->logged_on_per_row[i], longest->available[i], longest->on_calls[i],
                       longest->wrap_up[i], taken == answered.end() ? 0 : taken->second[i]}});
    }
  }
  return true;
}

bool ReportEngine::Abandoned(const ReportParameters& parameters,
                             std::vector<AbandonedCall>* abandoned) {
  const ReportPeriod period(parameters);
  std::vector<Call> calls;
  if (!ReadCalls(parameters, &calls)) return false;
  for (const Call& call : calls) {
    if (call.answered() || period.RowOfSlot(call.came_in / ReportPeriod::kSlotSeconds) < 0) {
      continue;
    }
    abandoned->push_back(
        AbandonedCall{call.server, call.group, call.came_in, call.queue, call.caller, call.guid});
  }
  std::stable_sort(abandoned->begin(), abandoned->end(),
                   [](const AbandonedCall& a, const AbandonedCall& b) {
                     return std::tie(a.time, a.server) < std::tie(b.time, b.server);
                   });
  return true;
}

std::optional<ReportSheet> ReportEngine::Sheet(std::string_view kind,
                                               const ReportParameters& parameters) {
  if (kind == "groups") {
    std::vector<GroupRow> rows;
    if (!Groups(parameters, &rows)) return std::nullopt;
    return ReportSheet::OfGroups(rows, parameters.time_zone);
  }
  if (kind == "agents") {
    std::vector<AgentRow> rows;
    if (!Agents(parameters, &rows)) return std::nullopt;
    return ReportSheet::OfAgents(rows, parameters.time_zone);
  }
  std::vector<AbandonedCall> calls;
  if (!Abandoned(parameters, &calls)) return std::nullopt;
  return ReportSheet::OfAbandoned(calls, parameters.time_zone);
}

}  // namespace callsink
