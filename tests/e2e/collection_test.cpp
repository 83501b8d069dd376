// The collector, acdsim and a private MariaDB, end to end: what the ACD
// server sends is what the tables hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "health/scraped_metrics.h"
#include "tests/e2e/collector_system.h"
#include "tests/e2e/expected_store.h"
#include "tests/e2e/table_rows.h"
#include "tests/support/sql_client.h"

namespace callsink::test {
namespace {

// A clock far ahead of the real one (and above 2^31): every server time is
// later than the collector's own, and stored unsigned.
constexpr const char* kServerClock = "3000000000";

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override { CALLSINK_REQUIRE_MARIADB(system_.database_if_started()); }

  // Waits until the server's record shows at least `min_events` events on
  // connection 1 and the rows of its server equal what those messages imply,
  // then compares table by table (which says what differs, if anything).
  // Returns the expectation it compared with.
  ExpectedStore ExpectStoreMatchesRecord(SqlClient& sql, const CollectorSystem::AcdSim& sim,
                                         size_t min_events) {
    ExpectedStore expected;
    TableRows actual;
    WaitUntil(60000, [&] {
      expected = ExpectedStore();
      expected.ApplyRecord(sim.record_file, "1");
      actual = TableRows::Read(sql, sim.address);
      return expected.events() >= min_events && actual == TableRows::Of(expected);
    });
    const TableRows wanted = TableRows::Of(expected);
    ExpectSameRows(actual, wanted);
    // Every stream had something to compare.
    EXPECT_FALSE(wanted.calls.empty());
    EXPECT_FALSE(wanted.cdrs.empty());
    EXPECT_FALSE(wanted.status_rows.empty());
    // The ACD clock runs more than 1.1e9 s ahead of the database server's.
    const auto diff =
        sql.Rows("select TimeDiff from acd_db.stock_time where Serv_Name='" + sim.address + "'");
    EXPECT_EQ(diff.size(), 1u);
    if (!diff.empty()) {
      EXPECT_LT(std::stoll(diff[0]), -1100000000LL);
    }
    return expected;
  }

  // A server at `address` sending 600 events (and directory changes) from a
  // centre generated with `seed`, collected by the collector as its only
  // configuration; null (after the failure) when both links did not come up.
  CollectorSystem::AcdSim* CollectFromOneServer(const std::string& address, const char* seed) {
    auto* sim = system_.StartAcdSim(
        address, {"--groups", "3", "--agents", "10", "--rate", "2000", "--events", "600",
                  "--start-time", kServerClock, "--seed", seed, "--directory-changes", "10"});
    if (sim == nullptr) return nullptr;
    system_.WriteConfigs({{address, sim->port}});
    system_.StartCollector();
    if (WaitUntil(10000, [&] { return system_.Status(1) == "Y-Y"; })) return sim;
    ADD_FAILURE() << "not Y-Y: " << system_.WorkerLog(address);
    return nullptr;
  }

  CollectorSystem system_;
};

TEST_F(CollectionTest, StartRequestsGoOutInOrderAndEveryTableHoldsWhatTheServerSent) {
  auto* sim = CollectFromOneServer("127.0.0.21", "7");
  ASSERT_NE(sim, nullptr);
  SqlClient sql(system_.database_env());
  ExpectStoreMatchesRecord(sql, *sim, 600);
  EXPECT_EQ(system_.Status(1), "Y-Y");

  // The six start requests, byte for byte but for the request numbers
  // (bytes 8 to 11), before any other request.
  const auto requests = CollectorSystem::RecordLines(sim->record_file, "in");
  ASSERT_GE(requests.size(), 6u);
  const std::string star = "2a" + std::string(30, '0');
  const std::string expected_requests[] = {
      "0006000000050000........0000001800000000"
      "00000000",
      "0006000000070000........0000002800000000" + std::string(32, '0') + "00000000",
      "0006000000030000........0000001800000000"
      "00000001",
      "0006000000020000........0000002800000000" + star + "01000000",
      "0006000000000000........0000003800000000" + star + star + "01000000",
      "0006000000010000........0000002800000000" + star + "01000000",
  };
  for (size_t i = 0; i < 6; ++i) {
    std::string sent = requests[i][7];
    ASSERT_EQ(sent.size(), expected_requests[i].size()) << i;
    sent.replace(16, 8, "........");
    EXPECT_EQ(sent, expected_requests[i]) << "request " << i;
  }
  // Then GetAgents per group and a Status request per member.
  EXPECT_EQ(requests[6][5], "6");

  const auto code = system_.StopCollector(SIGHUP, 2000);
  EXPECT_EQ(code, std::optional<int>(0));
}

// The metrics page of the running collector: valid for Prometheus, and its
// counters equal what the server sent (messages by class and type, from its
// record) and what the tables got (rows by table); a lost ACD link is
// counted, shown down and retried.
TEST_F(CollectionTest, MetricsCountWhatTheServerSentAndTheTablesGot) {
  auto* sim = CollectFromOneServer("127.0.0.23", "9");
  ASSERT_NE(sim, nullptr);
  SqlClient sql(system_.database_env());
  ExpectedStore expected = ExpectStoreMatchesRecord(sql, *sim, 600);
  const ScrapedMetrics::Labels server = {{"server", "127.0.0.23"}, {"config", "1"}};

  // The centre works on while the test looks: take the page once it has
  // counted every message and row of the record read just before it.
  std::string page;
  WaitUntil(20000, [&] {
    expected = ExpectedStore();
    expected.ApplyRecord(sim->record_file, "1");
    page = system_.ScrapeMetrics();
    const ScrapedMetrics scraped = ScrapedMetrics::Parse(page);
    double sent = 0;
    for (const auto& [kind, count] : expected.counts()) sent += count;
    bool rows_agree = true;
    for (const auto& [table, rows] : expected.rows_written()) {
      ScrapedMetrics::Labels labels = server;
      labels["table"] = table;
      rows_agree = rows_agree && scraped.Find("callsink_rows_written_total", labels) == rows;
    }
    return rows_agree && scraped.Sum("callsink_messages_received_total", server) == sent;
  });
  ASSERT_FALSE(page.empty()) << "the endpoint did not answer";
  const std::string page_file = system_.folder() + "/metrics.txt";
  TempDir::WriteFile(page_file, page);
  const std::string lint = system_.folder() + "/promtool.out";
  const int status =
      std::system(("promtool check metrics < '" + page_file + "' > '" + lint + "' 2>&1").c_str());
  // promtool comes with the Debian package prometheus.
  EXPECT_EQ(status, 0) << TempDir::ReadFile(lint) << page;

  const ScrapedMetrics metrics = ScrapedMetrics::Parse(page);
  auto value = [&](const std::string& name, ScrapedMetrics::Labels labels) {
    labels.insert(server.begin(), server.end());
    return metrics.Find(name, labels).value_or(-1);
  };
  const std::map<std::string, std::pair<const char*, const char*>> kLabels = {
      {"1:0", {"response", "SubscribeStatus"}},
      {"1:1", {"response", "SubscribeCall"}},
      {"1:2", {"response", "SubscribeCDR"}},
      {"1:3", {"response", "SubscribeConfig"}},
      {"1:4", {"response", "Status"}},
      {"1:5", {"response", "GetGroups"}},
      {"1:6", {"response", "GetAgents"}},
      {"1:7", {"response", "GetAllAgents"}},
      {"2:0", {"event", "Status"}},
      {"2:1", {"event", "CDR"}},
      {"2:2", {"event", "Call"}},
      {"2:3", {"event", "GroupUpdate"}},
      {"2:4", {"event", "RelationUpdate"}},
      {"2:5", {"event", "AgentUpdate"}}};
  double sent = 0;
  for (const auto& [kind, count] : expected.counts()) {
    ASSERT_TRUE(kLabels.contains(kind)) << kind;
    const auto& [message_class, type] = kLabels.at(kind);
    EXPECT_EQ(value("callsink_messages_received_total", {{"class", message_class}, {"type", type}}),
              count)
        << kind;
    sent += count;
  }
  EXPECT_EQ(metrics.Sum("callsink_messages_received_total", server), sent);
  EXPECT_GT(expected.counts().at("2:3") + expected.counts().at("2:4"), 0) << "no directory change";

  for (const auto& [table, rows] : expected.rows_written()) {
    EXPECT_EQ(value("callsink_rows_written_total", {{"table", table}}), rows) << table;
  }
  for (const char* table : {"stock_status", "stock_calls", "stock_cdr"}) {
    const auto stored = sql.Rows(std::string("select count(*) from acd_db.") + table +
                                 " where Serv_Name='127.0.0.23'");
    EXPECT_EQ(
        std::to_string(std::llround(value("callsink_rows_written_total", {{"table", table}}))),
        stored.at(0))
        << table;
  }
  EXPECT_EQ(value("callsink_statements_failed_total", {}), 0);
  for (const char* link : {"acd", "database"}) {
    EXPECT_EQ(value("callsink_link_up", {{"link", link}}), 1) << link;
    EXPECT_EQ(value("callsink_connects_total", {{"link", link}}), 1) << link;
  }
  const double now = static_cast<double>(std::time(nullptr));
  EXPECT_NEAR(value("callsink_last_message_timestamp_seconds", {}), now, 120);
  EXPECT_NEAR(value("callsink_last_commit_timestamp_seconds", {}), now, 120);
  // The journal: its cap, every message's receipt to commit, nothing left
  // waiting once the tables hold it all.
  EXPECT_EQ(value("callsink_journal_cap_bytes", {}), 1024.0 * 1024 * 1024);
  EXPECT_GE(value("callsink_apply_latency_seconds_count", {}), sent);
  EXPECT_LT(value("callsink_apply_lag_seconds", {}), 60);
  EXPECT_TRUE(WaitUntil(5000, [&] {
    ScrapedMetrics::Labels labels = server;
    return ScrapedMetrics::Parse(system_.ScrapeMetrics())
               .Find("callsink_journal_backlog_entries", labels) == 0.0;
  })) << system_.ScrapeMetrics();

  // The ACD server goes away: the loss shows at once, the retry after the
  // worker's 10 s pause.
  sim->process->Signal(SIGKILL);
  ASSERT_TRUE(WaitUntil(5000, [&] {
    const ScrapedMetrics now_metrics = ScrapedMetrics::Parse(system_.ScrapeMetrics());
    ScrapedMetrics::Labels acd = server;
    acd["link"] = "acd";
    return now_metrics.Find("callsink_connection_losses_total", acd) == 1.0 &&
           now_metrics.Find("callsink_link_up", acd) == 0.0;
  })) << system_.ScrapeMetrics();
  EXPECT_TRUE(WaitUntil(20000, [&] {
    const ScrapedMetrics now_metrics = ScrapedMetrics::Parse(system_.ScrapeMetrics());
    ScrapedMetrics::Labels acd = server;
    acd["link"] = "acd";
    return now_metrics.Find("callsink_connect_retries_total", acd).value_or(0) >= 1;
  })) << system_.ScrapeMetrics();
  EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

TEST_F(CollectionTest, ManyServersKeepTheirRowsApart) {
  for (int servers : {2, 20}) {
    SCOPED_TRACE(servers);
    std::vector<CollectorSystem::AcdSim*> sims;
    std::vector<CollectorSystem::Config> configs;
    for (int i = 0; i < servers; ++i) {
      const std::string address = "127.0." + std::to_string(servers) + "." + std::to_string(i + 1);
      auto* sim = system_.StartAcdSim(
          address, {"--groups", "2", "--agents", "5", "--rate", "1000", "--events", "80",
                    "--start-time", kServerClock, "--seed", std::to_string(i + 1)});
      ASSERT_NE(sim, nullptr);
      sims.push_back(sim);
      configs.push_back({address, sim->port});
    }
    system_.WriteConfigs(configs);
    system_.StartCollector();
    for (int n = 1; n <= servers; ++n) {
      ASSERT_TRUE(WaitUntil(10000, [&] { return system_.Status(n) == "Y-Y"; }))
          << system_.WorkerLog(sims[static_cast<size_t>(n - 1)]->address);
    }
    SqlClient sql(system_.database_env());
    for (auto* sim : sims) {
      SCOPED_TRACE(sim->address);
      ExpectStoreMatchesRecord(sql, *sim, 80);
    }
    EXPECT_EQ(system_.StopCollector(SIGTERM, 2000), std::optional<int>(0));
  }
}

// An ACD server that sends names made to break out of their quotes, to a
// MariaDB whose SQL modes end a double-quoted value at a double quote
// (NO_BACKSLASH_ESCAPES) or make it a column name (ANSI_QUOTES): the names
// are stored exactly and run nothing, and deleting the data of a forged
// server name deletes that name's rows alone.
TEST(HostilePeerTest, QuotesInNamesStayInTheirValuesWhateverTheServersModes) {
  CollectorSystem system({"--sql-mode=NO_BACKSLASH_ESCAPES,ANSI_QUOTES,STRICT_ALL_TABLES"});
  CALLSINK_REQUIRE_MARIADB(system.database_if_started());
  const std::string quotes = R"(a"b\c'd)";
  const std::string breakout = R"(x"),("e","y)";
  const std::string injection = R"(z",sleep(9))/*)";
  const std::string scenario = system.folder() + "/hostile.scenario";
  TempDir::WriteFile(scenario, "group " + quotes + "\ngroup " + breakout + "\nagent " + injection +
                                   " " + quotes + "\nmember " + quotes + " " + injection +
                                   "\nmember " + breakout + " " + injection + "\n");
  auto* sim = system.StartAcdSim("127.0.0.22", {"--scenario", scenario, "--events", "0"});
  ASSERT_NE(sim, nullptr);
  system.WriteConfigs({{"127.0.0.22", sim->port}});
  system.StartCollector();

  SqlClient sql(system.database_env());
  ASSERT_EQ(sql.Value("select @@GLOBAL.sql_mode"),
            "ANSI_QUOTES,NO_BACKSLASH_ESCAPES,STRICT_ALL_TABLES");
  const auto rows = [&](const std::string& query) { return Sorted(sql.Rows(query)); };
  EXPECT_TRUE(WaitUntil(10000, [&] {
    return system.Status(1) == "Y-Y" && sql.Value(
                                            "select count(*) from acd_db.stock_relations "
                                            "where Status is not null") == "2";
  })) << system.WorkerLog("127.0.0.22");
  EXPECT_EQ(rows("select Serv_Name, Group_Name from acd_db.stock_groups"),
            Sorted({"127.0.0.22|" + quotes, "127.0.0.22|" + breakout}));
  EXPECT_EQ(rows("select Serv_Name, Agent_Name, Agent_FullName from acd_db.stock_agents"),
            (std::vector<std::string>{"127.0.0.22|" + injection + "|" + quotes}));
  EXPECT_EQ(rows("select Group_Name, Agent_Name from acd_db.stock_relations"),
            Sorted({quotes + "|" + injection, breakout + "|" + injection}));
  EXPECT_EQ(system.CountInLog("127.0.0.22", "SQL syntax"), 0) << system.WorkerLog("127.0.0.22");

  // Rows forged under a name that reads as a condition, beside the rows of
  // the server above: deleting the forged name's data leaves those alone.
  const std::string forged = R"(10.0.0.9" or "1"="1)";
  sql.Exec("insert into acd_db.stock_groups (Serv_Name, Group_Name) values ('" + forged +
           "', 'Forged')");
  const std::string output = system.folder() + "/delete.out";
  std::vector<std::string> env = system.CollectorEnvironment();
  ChildProcess deletion(std::string(std::getenv("CALLSINK_BIN")) + "/callsinkctl",
                        {"data", "delete", forged, "--config", "1", "--yes"}, env, {}, output);
  EXPECT_EQ(deletion.WaitExit(30000), std::optional<int>(0)) << TempDir::ReadFile(output);
  EXPECT_EQ(TempDir::ReadFile(output), "Information deleted\n");
  EXPECT_EQ(rows("select Serv_Name, Group_Name from acd_db.stock_groups"),
            Sorted({"127.0.0.22|" + quotes, "127.0.0.22|" + breakout}));
  EXPECT_EQ(system.StopCollector(SIGTERM, 2000), std::optional<int>(0));
}

}  // namespace
}  // namespace callsink::test
