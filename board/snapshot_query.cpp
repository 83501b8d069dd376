#include "board/snapshot_query.h"

#include <algorithm>
#include <functional>
#include <tuple>
#include <utility>

#include "board/board_json.h"
#include "board/local_clock.h"
#include "store/mysql_connection.h"
#include "store/mysql_result.h"

namespace callsink {
namespace {

// A snapshot is a handful of small reads; a database that does not answer
// within these limits counts as unreachable until the next refresh.
constexpr MySqlTimeouts kTimeouts = {3, 10, 10};
// A call still queued is looked for among the Call events of this long: a
// caller waits minutes, and a call queued before with no event since is one
// whose end the collector never heard of, not one still waiting.
constexpr int64_t kQueuedWindowSeconds = 3600;
constexpr const char* kAnswered = "COALESCE(Agent_Name, '') <> ''";

using Row = std::function<void(MYSQL_ROW row)>;

int64_t Number(const char* field) { return field != nullptr ? std::stoll(field) : 0; }

std::optional<int64_t> Optional(const char* field) {
  if (field == nullptr) return std::nullopt;
  return std::stoll(field);
}

// A name as the session gives it (latin1 bytes).
std::string Bytes(MYSQL_RES* result, MYSQL_ROW row, unsigned int column) {
  const unsigned long* lengths = mysql_fetch_lengths(result);
  return row[column] != nullptr ? std::string(row[column], lengths[column]) : std::string();
}

// The same name in UTF-8, as the snapshot holds it.
std::string Text(MYSQL_RES* result, MYSQL_ROW row, unsigned int column) {
  return BoardJson::Utf8(Bytes(result, row, column));
}

// The ACD server's clock against the database host's, per server.
struct ServerClock {
  std::string quoted_name;  // escaped, between double quotes
  int64_t difference = 0;   // database host minus ACD server, seconds
};

}  // namespace

SnapshotQuery::SnapshotQuery(const BoardSettings& settings)
    : settings_(settings), connection_(std::make_unique<MySqlConnection>()) {}

SnapshotQuery::~SnapshotQuery() = default;

std::optional<BoardSnapshot> SnapshotQuery::Take(std::optional<int64_t> now, std::string* error) {
  MySqlConnection& connection = *connection_;
  const auto fail = [&] {
    *error = connection ? connection.ErrorText() : "the client library has no memory";
    connection.Close();
    return std::nullopt;
  };
  if (!connection) {
    // The board's own settings name no TLS yet: its sessions run as "off".
    if (!connection.Open(settings_.database_host, settings_.user, settings_.password,
                         DatabaseTlsSetting{}, kTimeouts) ||
        mysql_select_db(connection.get(), "acd_db") != 0) {
      return fail();
    }
  }
  MYSQL* handle = connection.get();
  // Runs `sql`; `each` gets every row with the result it came from.
  const auto query = [&](const std::string& sql,
                         const std::function<void(MYSQL_RES*, MYSQL_ROW)>& each) {
    if (mysql_real_query(handle, sql.data(), sql.size()) != 0) return false;
    const MySqlResult result(mysql_store_result(handle));
    if (!result) return false;
    while (MYSQL_ROW row = mysql_fetch_row(result.get())) each(result.get(), row);
    return true;
  };

  BoardSnapshot snapshot;
  if (now) {
    snapshot.time = *now;
  } else if (!query("SELECT UNIX_TIMESTAMP()",
                    [&](MYSQL_RES*, MYSQL_ROW row) { snapshot.time = Number(row[0]); })) {
    return fail();
  }
  snapshot.day_start = LocalClock::DayStart(snapshot.time);
  const int64_t day_end = LocalClock::DayEnd(snapshot.time);

  std::map<std::string, ServerClock> clocks;
  if (!query("SELECT s.Serv_Name, COALESCE(MAX(t.TimeDiff), 0) FROM (SELECT Serv_Name FROM "
             "stock_groups UNION SELECT Serv_Name FROM stock_time) s LEFT JOIN stock_time t ON "
             "t.Serv_Name = s.Serv_Name GROUP BY s.Serv_Name",
             [&](MYSQL_RES* result, MYSQL_ROW row) {
               const std::string name = Bytes(result, row, 0);
               std::string escaped(name.size() * 2 + 1, '\0');
               escaped.resize(
                   mysql_real_escape_string(handle, escaped.data(), name.data(), name.size()));
               clocks[BoardJson::Utf8(name)] = {"\"" + escaped + "\"", Number(row[1])};
             })) {
    return fail();
  }
  // One range of `column` per server, on the ACD server's clock: the index
  // on (Serv_Name, column) reads just these rows.
  const auto ranges = [&](const char* column, int64_t from, std::optional<int64_t> until) {
    std::string condition;
    for (const auto& [name, clock] : clocks) {
      condition += condition.empty() ? "(" : " OR ";
      condition += "(Serv_Name = " + clock.quoted_name + " AND " + column +
                   " >= " + std::to_string(std::max<int64_t>(0, from - clock.difference));
      if (until) {
        condition += std::string(" AND ") + column + " < " +
                     std::to_string(std::max<int64_t>(0, *until - clock.difference));
      }
      condition += ")";
    }
    return condition + ")";
  };
  const auto difference = [&](const std::string& server) {
    const auto found = clocks.find(server);
    return found != clocks.end() ? found->second.difference : 0;
  };

  std::map<std::pair<std::string, std::string>, BoardGroup> groups;
  const auto group = [&](MYSQL_RES* result, MYSQL_ROW row) -> BoardGroup& {
    std::pair key(Text(result, row, 0), Text(result, row, 1));
    BoardGroup& found = groups[key];
    found.server = std::move(key.first);
    found.group = std::move(key.second);
    return found;
  };
  if (!query(
          "SELECT Serv_Name, Group_Name, COALESCE(Calls_inQueue, 0) FROM stock_groups WHERE "
          "COALESCE(State, 1) <> 0",
          [&](MYSQL_RES* result, MYSQL_ROW row) { group(result, row).waiting = Number(row[2]); })) {
    return fail();
  }
  std::map<std::pair<std::string, std::string>, int64_t> answered_by_agent;
  if (!clocks.empty()) {
    const std::string today = ranges("Timestamp", snapshot.day_start, day_end);
    const std::string service = std::to_string(settings_.service_level_seconds);
    if (!query(std::string("SELECT Serv_Name, Group_Name, COUNT(*), SUM(") + kAnswered +
                   "), ROUND(100 * SUM(" + kAnswered + " AND Queue_Dur <= " + service +
                   ") / COUNT(*)), ROUND(AVG(IF(" + kAnswered +
                   ", Queue_Dur, NULL))) FROM stock_cdr WHERE " + today +
                   " GROUP BY Serv_Name, Group_Name",
               [&](MYSQL_RES* result, MYSQL_ROW row) {
                 BoardGroup& figures = group(result, row);
                 figures.offered = Number(row[2]);
                 figures.answered = Number(row[3]);
                 figures.abandoned = figures.offered - figures.answered;
                 figures.service_level = Optional(row[4]);
                 figures.average_wait = Optional(row[5]);
               }) ||
        !query("SELECT Serv_Name, Agent_Name, COUNT(*) FROM stock_cdr WHERE " + today + " AND " +
                   kAnswered + " GROUP BY Serv_Name, Agent_Name",
               [&](MYSQL_RES* result, MYSQL_ROW row) {
                 answered_by_agent[{Text(result, row, 0), Text(result, row, 1)}] = Number(row[2]);
               }) ||
        !query("SELECT Serv_Name, Group_Name, MIN(first) FROM (SELECT Serv_Name, "
               "MIN(Group_Name) AS Group_Name, MIN(Timestamp) AS first FROM stock_calls WHERE " +
                   ranges("Timestamp", snapshot.time - kQueuedWindowSeconds, std::nullopt) +
                   " GROUP BY Serv_Name, Call_ID HAVING SUM(Call_State <> " +
                   std::to_string(settings_.queued_call_state) +
                   ") = 0) queued GROUP BY Serv_Name, Group_Name",
               [&](MYSQL_RES* result, MYSQL_ROW row) {
                 BoardGroup& figures = group(result, row);
                 const int64_t acd_now = snapshot.time - difference(figures.server);
                 figures.longest_wait = std::max<int64_t>(0, acd_now - Number(row[2]));
               })) {
      return fail();
    }
  }
  if (!query("SELECT r.Serv_Name, r.Group_Name, r.Agent_Name, COALESCE(a.Agent_FullName, ''), "
             "COALESCE(r.Status, 0), COALESCE(r.Timestamp, 0) FROM stock_relations r LEFT JOIN "
             "stock_agents a ON a.Serv_Name = r.Serv_Name AND a.Agent_Name = r.Agent_Name "
             "WHERE COALESCE(r.State, 1) <> 0",
             [&](MYSQL_RES* result, MYSQL_ROW row) {
               BoardAgent agent;
               agent.server = Text(result, row, 0);
               agent.group = Text(result, row, 1);
               agent.agent = Text(result, row, 2);
               agent.name = Text(result, row, 3);
               agent.state = static_cast<int>(Number(row[4]));
               const int64_t since = Number(row[5]);
               agent.since = since > 0 ? since + difference(agent.server) : 0;
               const auto answered = answered_by_agent.find({agent.server, agent.agent});
               if (answered != answered_by_agent.end()) agent.answered = answered->second;
               ++group(result, row).agents_by_state[agent.state];
               snapshot.agents.push_back(std::move(agent));
             })) {
    return fail();
  }
  for (auto& [key, figures] : groups) snapshot.groups.push_back(std::move(figures));
  std::sort(snapshot.agents.begin(), snapshot.agents.end(), [](const auto& a, const auto& b) {
    return std::tie(a.server, a.agent, a.group) < std::tie(b.server, b.agent, b.group);
  });
  return snapshot;
}

}  // namespace callsink
