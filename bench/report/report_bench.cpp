// The reports over a generated history on a private MariaDB server: one
// server's day at 15 minutes and month by day, each report timed.
//
//   report_bench [SERVERS [DAYS [AGENTS [covering]]]]   # default 2 60 50
//
// Each ACD server has AGENTS agents in 10 groups (each agent in two), on
// duty from about 07:00 to 17:00 Berlin time every day from 2024-01-01: available,
// on a call, in wrap-up, a break after every tenth call; about 8% of the
// calls are abandoned. The rows go into the tables the collector creates by
// LOAD DATA, with the history's indexes on (Serv_Name, Timestamp) and
// (Serv_Name, TimeStart); with "covering", stock_status's index holds every
// column the reports read of it.
#include <mysql.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/activity_log.h"
#include "report/report_engine.h"
#include "store/acd_database.h"
#include "store/mysql_connection.h"
#include "tests/support/mariadb_server.h"

namespace callsink {
namespace {

constexpr int kGroups = 10;

struct History {
  int64_t cdr_rows = 0;
  int64_t status_rows = 0;
};

History Generate(int servers, int days, int agents, int64_t first_day, const std::string& cdr_file,
                 const std::string& status_file) {
  std::mt19937 random(20240101);
  const auto uniform = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  std::ofstream cdr(cdr_file);
  std::ofstream status(status_file);
  History history;
  int64_t call_number = 0;
  const auto add_status = [&](const std::string& server, int agent, int group, int64_t start,
                              int64_t end, int code) {
    status << server << "\tGroup " << group << "\t" << 1000 + agent << "\t" << start << "\t" << end
           << "\t" << code << "\n";
    ++history.status_rows;
  };
  for (int s = 0; s < servers; ++s) {
    const std::string server = "10.0.0." + std::to_string(s + 1);
    for (int agent = 0; agent < agents; ++agent) {
      const int groups[2] = {agent % kGroups, (agent + 1) % kGroups};
      int64_t logged_out_since = first_day - 3600;
      for (int day = 0; day < days; ++day) {
        // Local midnight plus 7 and 17 hours (an hour off in summer time).
        const int64_t day_start = first_day + int64_t{day} * 86400;
        int64_t t = day_start + 7 * 3600 + uniform(0, 600);
        const int64_t off_duty = day_start + 17 * 3600;
        std::vector<std::tuple<int64_t, int64_t, int>> intervals{{logged_out_since, t, 0}};
        for (int calls = 1; t < off_duty; ++calls) {
          const int available = uniform(20, 200), queue = uniform(0, 40);
          const int talk = uniform(60, 360), wrap_up = uniform(5, 45);
          const int group = groups[uniform(0, 1)];
          const int64_t answer = t + available;
          intervals.push_back({t, answer, 1});
          intervals.push_back({answer, answer + talk, 2});
          intervals.push_back({answer + talk, answer + talk + wrap_up, 3});
          cdr << server << "\tGroup " << group << "\t" << 1000 + agent << "\t" << answer - queue
              << "\t" << talk << "\t+4930" << call_number << "\t{" << call_number << "}\t3\t1\t"
              << queue << "\n";
          ++call_number;
          if (uniform(0, 99) < 8) {
            cdr << server << "\tGroup " << group << "\t\t" << answer - uniform(0, 200)
                << "\t0\t+4930" << call_number << "\t{" << call_number << "}\t3\t3\t"
                << uniform(10, 120) << "\n";
            ++call_number;
            ++history.cdr_rows;
          }
          ++history.cdr_rows;
          t = answer + talk + wrap_up;
          if (calls % 10 == 0) {
            intervals.push_back({t, t + 600, 4});
            t += 600;
          }
        }
        logged_out_since = t;
        for (const auto& [start, end, code] : intervals) {
          for (const int group : groups) add_status(server, agent, group, start, end, code);
        }
      }
    }
  }
  return history;
}

bool Run(MYSQL* mysql, const std::string& statement) {
  if (mysql_real_query(mysql, statement.data(), statement.size()) == 0) {
    mysql_free_result(mysql_store_result(mysql));  // analyze's report
    return true;
  }
  std::fprintf(stderr, "report_bench: %s: %s\n", statement.c_str(), mysql_error(mysql));
  return false;
}

// The median of five runs of `report`, in ms; `rows` gets its row count.
double MedianMs(const std::function<size_t()>& report, size_t* rows) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    *rows = report();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[2];
}

}  // namespace
}  // namespace callsink

int main(int argc, char** argv) {
  using namespace callsink;
  const int servers = argc > 1 ? std::stoi(argv[1]) : 2;
  const int days = argc > 2 ? std::stoi(argv[2]) : 60;
  const int agents = argc > 3 ? std::stoi(argv[3]) : 50;
  const bool covering = argc > 4 && std::string(argv[4]) == "covering";

  test::MariaDbServer server;
  if (!server.Start({"--innodb-buffer-pool-size=1G"})) {
    std::fprintf(stderr, "report_bench: could not start a private MariaDB server\n");
    return 1;
  }
  server.env()->ExportToClientLibrary();
  ActivityLog log;
  AcdDatabase store(&log);
  if (!store.Connect("localhost", server.env()->admin_user, server.env()->admin_password) ||
      !store.CreateTables()) {
    std::fprintf(stderr, "report_bench: could not create the tables\n");
    return 1;
  }

  const TimeZone berlin = *TimeZone::Named("Europe/Berlin");
  const int64_t first_day = berlin.FromLocal(LocalTime{2024, 1, 1});
  const std::string cdr_file = server.folder() + "/cdr.tsv";
  const std::string status_file = server.folder() + "/status.tsv";
  auto start = std::chrono::steady_clock::now();
  const History history = Generate(servers, days, agents, first_day, cdr_file, status_file);
  MYSQL* loader = mysql_init(nullptr);
  const unsigned int local_infile = 1;
  mysql_options(loader, MYSQL_OPT_LOCAL_INFILE, &local_infile);
  if (mysql_real_connect(loader, "localhost", server.env()->admin_user.c_str(),
                         server.env()->admin_password.c_str(), "acd_db", 0, nullptr,
                         0) == nullptr ||
      !Run(loader, "create index Serv_Time on stock_cdr (Serv_Name, Timestamp)") ||
      !Run(loader, covering ? "create index Serv_Start on stock_status (Serv_Name, TimeStart, "
                              "TimeEnd, Status, Group_Name, Agent_Name)"
                            : "create index Serv_Start on stock_status (Serv_Name, TimeStart)") ||
      !Run(loader, "load data local infile '" + cdr_file +
                       "' into table stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, "
                       "Call_Dur, Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur)") ||
      !Run(loader, "load data local infile '" + status_file +
                       "' into table stock_status (Serv_Name, Group_Name, Agent_Name, "
                       "TimeStart, TimeEnd, Status)") ||
      !Run(loader,
           "insert into stock_groups (Serv_Name) select distinct Serv_Name from "
           "stock_cdr") ||
      !Run(loader, "analyze table stock_cdr, stock_status")) {
    std::fprintf(stderr, "report_bench: could not load the history: %s\n", mysql_error(loader));
    return 1;
  }
  mysql_close(loader);
  std::printf(
      "history: %d servers, %d days, %d agents each: %lld CDRs, %lld status intervals, "
      "generated and loaded in %.1f s\n",
      servers, days, agents, static_cast<long long>(history.cdr_rows),
      static_cast<long long>(history.status_rows),
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

  MySqlConnection connection;
  if (!connection.Open("localhost", server.env()->admin_user, server.env()->admin_password) ||
      mysql_select_db(connection.get(), "acd_db") != 0) {
    std::fprintf(stderr, "report_bench: could not connect\n");
    return 1;
  }
  ReportEngine engine(connection);
  const int month = std::min(days, 30);
  const int first = std::max(0, days / 2 - month / 2);
  struct Period {
    const char* name;
    int days;
    ReportInterval interval;
  };
  std::printf("| report | period | rows | median ms |\n|---|---|---|---|\n");
  for (const Period& period : {Period{"one day at 15 minutes", 1, ReportInterval::k15Minutes},
                               Period{"30 days by day", month, ReportInterval::kDay}}) {
    ReportParameters parameters;
    parameters.servers = {"10.0.0.1"};
    parameters.time_zone = berlin;
    parameters.interval = period.interval;
    parameters.from = berlin.FromLocal(LocalTime{2024, 1, 1 + first});
    parameters.until = berlin.FromLocal(LocalTime{2024, 1, 1 + first + period.days});
    size_t rows = 0;
    const double groups = MedianMs(
        [&] {
          std::vector<GroupRow> result;
          if (!engine.Groups(parameters, &result))
            std::fprintf(stderr, "%s\n", engine.error().c_str());
          return result.size();
        },
        &rows);
    std::printf("| groups | %s | %zu | %.1f |\n", period.name, rows, groups);
    const double agents_ms = MedianMs(
        [&] {
          std::vector<AgentRow> result;
          if (!engine.Agents(parameters, &result))
            std::fprintf(stderr, "%s\n", engine.error().c_str());
          return result.size();
        },
        &rows);
    std::printf("| agents | %s | %zu | %.1f |\n", period.name, rows, agents_ms);
    const double abandoned = MedianMs(
        [&] {
          std::vector<AbandonedCall> result;
          if (!engine.Abandoned(parameters, &result))
            std::fprintf(stderr, "%s\n", engine.error().c_str());
          return result.size();
        },
        &rows);
    std::printf("| abandoned | %s | %zu | %.1f |\n", period.name, rows, abandoned);
  }
  return 0;
}
