// The wallboard's snapshot at scale, and many viewers on one snapshot.
//
//   board_bench [DAYS [CALLS_PER_DAY]]     (defaults: 365 days, 200 calls)
//
// Starts a private MariaDB server, makes the collector's tables with the
// (Serv_Name, time) indexes of the history tables, and fills them: 99 ACD
// servers of 8 groups and 200 agents each, and DAYS days of history of
// CALLS_PER_DAY calls per server and day (a CDR and two Call events each),
// today's included. Then it measures SnapshotQuery::Take (the server time
// of one snapshot, 20 rounds), and serves the board on loopback to 200
// viewers that poll /api/board?server=... (each one server's, two viewers
// a server and more) every 2 s with their ETag for 20 s, counting the
// snapshots taken and the answers.
#include <httplib.h>
#include <mysql.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "board/board_http.h"
#include "board/local_clock.h"
#include "board/snapshot_cache.h"
#include "board/snapshot_query.h"
#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "store/mysql_connection.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/temp_dir.h"
#include "web/web_server.h"

namespace callsink {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

bool Run(MySqlConnection& connection, const std::string& sql) {
  if (mysql_real_query(connection.get(), sql.data(), sql.size()) == 0) return true;
  std::fprintf(stderr, "%s: %s\n", sql.c_str(), mysql_error(connection.get()));
  return false;
}

bool Fill(MySqlConnection& db, int days, int calls_per_day) {
  const std::string server = "CONCAT('acd', s.seq, '.example')";
  const std::string calls = std::to_string(calls_per_day);
  // Call c of day d (0 today) comes in at midnight - d days + c * 86400 / calls.
  const std::string time =
      "UNIX_TIMESTAMP(CURDATE()) - d.seq * 86400 + c.seq * (86400 DIV " + calls + ")";
  const std::string history = " FROM seq_1_to_99 s, seq_0_to_" + std::to_string(days - 1) +
                              " d, seq_0_to_" + std::to_string(calls_per_day - 1) + " c";
  for (const std::string& sql : std::vector<std::string>{
           "SET SESSION sql_log_bin = 0",
           "CREATE INDEX cdr_time ON stock_cdr (Serv_Name, Timestamp)",
           "CREATE INDEX calls_time ON stock_calls (Serv_Name, Timestamp)",
           "CREATE INDEX status_time ON stock_status (Serv_Name, TimeStart)",
           "INSERT INTO stock_time (Serv_Name, TimeDiff) SELECT " + server +
               ", s.seq FROM seq_1_to_99 s",
           "INSERT INTO stock_groups (Serv_Name, Group_Name, State, Calls_inQueue) SELECT " +
               server + ", CONCAT('Group ', g.seq), 1, g.seq % 4 FROM seq_1_to_99 s, seq_1_to_8 g",
           "INSERT INTO stock_agents (Serv_Name, Agent_Name, Agent_FullName) SELECT " + server +
               ", 1000 + a.seq, CONCAT('Agent ', a.seq) FROM seq_1_to_99 s, seq_1_to_200 a",
           "INSERT INTO stock_relations (Serv_Name, Group_Name, Agent_Name, State, Status, "
           "Timestamp) SELECT " +
               server +
               ", CONCAT('Group ', a.seq % 8 + 1), 1000 + a.seq, 1, a.seq % 5, "
               "UNIX_TIMESTAMP() - a.seq FROM seq_1_to_99 s, seq_1_to_200 a",
           "INSERT INTO stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
           "Call_GUID, Call_State, Close_Reason, Queue_Dur) SELECT " +
               server +
               ", CONCAT('Group ', c.seq % 8 + 1), IF(c.seq % 10 = 0, '', 1000 + c.seq % "
               "200), " +
               time + ", 180, CONCAT(s.seq, '-', d.seq, '-', c.seq), 3, 1, c.seq % 60" + history,
           "INSERT INTO stock_calls (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_ID, "
           "Call_State, Close_Reason) SELECT " +
               server + ", CONCAT('Group ', c.seq % 8 + 1), '', " + time +
               ", CONCAT(s.seq, '-', d.seq, '-', c.seq), 1, 0" + history,
           "INSERT INTO stock_calls (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_ID, "
           "Call_State, Close_Reason) SELECT " +
               server + ", CONCAT('Group ', c.seq % 8 + 1), '1001', " + time +
               " + 20, CONCAT(s.seq, '-', d.seq, '-', c.seq), 2, 0" + history +
               " WHERE c.seq % 50 <> 0",
       }) {
    if (!Run(db, sql)) return false;
  }
  return true;
}

void Viewers(const BoardSettings& settings) {
  constexpr int kViewers = 200;
  constexpr auto kPoll = std::chrono::seconds(2);
  constexpr auto kLength = std::chrono::seconds(20);
  SnapshotCache cache(settings, kPoll);
  cache.Start();
  WebServer server(BoardHttp::Site(cache, settings), "", [](const std::string&) {});
  std::string error;
  if (!server.Start("127.0.0.1", 0, &error)) {
    std::fprintf(stderr, "board_bench: %s\n", error.c_str());
    return;
  }
  const int port = server.port();
  const uint64_t first = cache.Latest().sequence;
  std::atomic<int> full{0}, unchanged{0}, failed{0};
  std::atomic<int64_t> slowest_us{0};
  const auto start = Clock::now();
  std::vector<std::thread> viewers;
  for (int i = 0; i < kViewers; ++i) {
    viewers.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", port);
      // A supervisor's own server; every viewer of a server asks the same.
      const std::string path = "/api/board?server=acd" + std::to_string(i % 99 + 1) + ".example";
      std::string tag;
      // Spread over the interval, as real viewers are.
      auto next = start + kPoll * i / kViewers;
      while (next < start + kLength) {
        std::this_thread::sleep_until(next);
        const auto asked = Clock::now();
        httplib::Headers headers;
        if (!tag.empty()) headers.emplace("If-None-Match", tag);
        const auto answer = client.Get(path, headers);
        const auto took =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked);
        int64_t slowest = slowest_us.load();
        while (took.count() > slowest && !slowest_us.compare_exchange_weak(slowest, took.count())) {
        }
        if (!answer) {
          ++failed;
        } else if (answer->status == 304) {
          ++unchanged;
        } else if (answer->status == 200) {
          ++full;
          tag = answer->get_header_value("ETag");
        } else {
          ++failed;
        }
        next += kPoll;
      }
    });
  }
  for (std::thread& viewer : viewers) viewer.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const uint64_t taken = cache.Latest().sequence - first;
  server.Stop();
  cache.Stop();
  std::printf(
      "%d viewers polling every 2 s for %.1f s: %llu snapshots taken (%.2f per 2 s); "
      "answers 200: %d, 304: %d, failed: %d; slowest answer %.1f ms\n",
      kViewers, seconds, static_cast<unsigned long long>(taken),
      static_cast<double>(taken) * 2 / seconds, full.load(), unchanged.load(), failed.load(),
      static_cast<double>(slowest_us.load()) / 1000.0);
}

int Main(int argc, char** argv) {
  const int days = argc > 1 ? std::stoi(argv[1]) : 365;
  const int calls_per_day = argc > 2 ? std::stoi(argv[2]) : 200;
  test::MariaDbServer server;
  if (!server.Start({"--innodb-buffer-pool-size=1G"})) return 1;
  server.env()->ExportToClientLibrary();
  test::TempDir dir;
  test::TempDir::MakeFolder(dir / "logs");
  if (chdir(dir.path().c_str()) != 0) return 1;
  ActivityLog log;
  log.Open("bench");
  AcdDatabase store(&log);
  if (!store.Connect("localhost", server.env()->admin_user, server.env()->admin_password) ||
      !store.CreateTables()) {
    return 1;
  }
  MySqlConnection db;
  // A year of history is written in statements of minutes each.
  if (!db.Open("localhost", server.env()->admin_user, server.env()->admin_password,
               DatabaseTlsSetting{}, {10, 3600, 3600}) ||
      mysql_select_db(db.get(), "acd_db") != 0) {
    return 1;
  }
  const auto filling = Clock::now();
  if (!Fill(db, days, calls_per_day)) return 1;
  std::printf(
      "filled: 99 servers x 8 groups x 200 agents, %d days x %d calls per server "
      "(%d CDRs) in %.0f s\n",
      days, calls_per_day, 99 * days * calls_per_day,
      std::chrono::duration<double>(Clock::now() - filling).count());

  LocalClock::Use("");
  BoardSettings settings;
  settings.user = server.env()->admin_user;
  settings.password = server.env()->admin_password;
  SnapshotQuery query(settings);
  std::vector<double> rounds;
  size_t groups = 0, agents = 0;
  for (int round = 0; round < 21; ++round) {
    std::string error;
    const auto asked = Clock::now();
    const std::optional<BoardSnapshot> snapshot = query.Take(std::nullopt, &error);
    if (!snapshot) {
      std::fprintf(stderr, "snapshot: %s\n", error.c_str());
      return 1;
    }
    // The first round connects.
    if (round > 0) rounds.push_back(Milliseconds(Clock::now() - asked));
    groups = snapshot->groups.size();
    agents = snapshot->agents.size();
  }
  std::sort(rounds.begin(), rounds.end());
  std::printf("snapshot of %zu groups, %zu agents: median %.1f ms, slowest %.1f ms (%zu rounds)\n",
              groups, agents, rounds[rounds.size() / 2], rounds.back(), rounds.size());
  Viewers(settings);
  return 0;
}

}  // namespace
}  // namespace callsink

int main(int argc, char** argv) { return callsink::Main(argc, argv); }
