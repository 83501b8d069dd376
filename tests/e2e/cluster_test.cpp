// Two collectors, each with its own configuration and two ACD servers,
// write through haproxy into the private three-node Galera cluster while
// every server streams. The node haproxy sends to is killed mid-stream and
// brought back: each server's tables then hold each message's rows once, in
// order, up to a message sent after the node was back. The manager's
// deletions run through haproxy while both collectors keep running, and in
// the end every table is the same on the three nodes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>

#include "tests/e2e/collector_system.h"
#include "tests/e2e/expected_store.h"
#include "tests/e2e/table_rows.h"
#include "tests/support/galera_cluster.h"
#include "tests/support/sql_client.h"

namespace callsink::test {
namespace {

using Messages = std::vector<std::vector<uint8_t>>;

constexpr const char* kTables[] = {"stock_groups", "stock_agents",    "stock_relations",
                                   "stock_calls",  "stock_cdr",       "stock_status",
                                   "stock_time",   "journal_position"};

// The messages the server has sent so far; the last record line is left
// out, since acdsim may be writing it.
Messages SentSoFar(const CollectorSystem::AcdSim& sim) {
  Messages messages = ExpectedStore::RecordMessages(sim.record_file, "1");
  if (!messages.empty()) messages.pop_back();
  return messages;
}

// True when the server's rows, read in one snapshot, are what its first k
// messages leave, for some k >= `at_least`: nothing twice, nothing left out
// up to there.
bool HoldsAPrefix(SqlClient& sql, const CollectorSystem::AcdSim& sim, size_t at_least) {
  if (!sql.Exec("start transaction with consistent snapshot")) return false;
  const TableRows rows = TableRows::Read(sql, sim.address);
  sql.Exec("commit");
  const Messages messages = SentSoFar(sim);
  ExpectedStore store;
  for (size_t k = 0; k <= messages.size(); ++k) {
    if (k > 0) store.Apply(messages[k - 1]);
    if (k >= at_least && store.Calls().size() == rows.calls.size() &&
        TableRows::Of(store) == rows) {
      return true;
    }
  }
  return false;
}

// After a deletion while the server streams: its calls are a run of the
// calls its messages make, in order and none twice, beginning after the
// `deleted` calls the table held before.
bool CallsRunOnAfter(SqlClient& sql, const CollectorSystem::AcdSim& sim, size_t deleted) {
  const std::vector<std::string> calls = TableRows::Read(sql, sim.address).calls;
  ExpectedStore store;
  for (const auto& message : SentSoFar(sim)) store.Apply(message);
  const auto& all = store.Calls();
  const auto run = std::search(all.begin(), all.end(), calls.begin(), calls.end());
  return !calls.empty() && run != all.end() && static_cast<size_t>(run - all.begin()) >= deleted;
}

// Polls `holds` (the database may be a message ahead of the record read).
bool Eventually(int timeout_ms, const std::function<bool()>& holds) {
  return WaitUntil(timeout_ms, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return holds();
  });
}

std::string Ctl(const CollectorSystem& system, const std::vector<std::string>& args) {
  const std::string output = system.folder() + "/callsinkctl.out";
  ChildProcess ctl(std::string(std::getenv("CALLSINK_BIN")) + "/callsinkctl", args,
                   system.CollectorEnvironment(), {}, output);
  EXPECT_EQ(ctl.WaitExit(60000), std::optional<int>(0)) << TempDir::ReadFile(output);
  return TempDir::ReadFile(output);
}

TEST(ClusterTest, TwoCollectorsKeepEveryRowOnceThroughANodeKillAndDeleteThroughTheProxy) {
  const std::optional<GaleraCluster> cluster = GaleraCluster::Load();
  CALLSINK_REQUIRE_GALERA(cluster);
  SqlClient(cluster->proxy()).Exec("drop database if exists acd_db");

  // Collector c serves servers c and c + 2: partitioned, none in two
  // configurations.
  std::vector<std::unique_ptr<CollectorSystem>> collectors;
  std::vector<CollectorSystem::AcdSim*> sims(4);
  for (size_t c = 0; c < 2; ++c) {
    collectors.push_back(CollectorSystem::UsingDatabase(cluster->proxy()));
    std::vector<CollectorSystem::Config> configs;
    for (size_t server = c; server < 4; server += 2) {
      sims[server] = collectors[c]->StartAcdSim(
          "127.0.0.6" + std::to_string(server),
          {"--groups", "4", "--agents", "30", "--rate", "100", "--seed",
           std::to_string(20 + server), "--start-time", "3000000000", "--directory-changes", "40"});
      ASSERT_NE(sims[server], nullptr);
      configs.push_back({sims[server]->address, sims[server]->port, "127.0.0.1"});
    }
    collectors[c]->WriteConfigs(configs);
    collectors[c]->StartCollector();
  }
  auto worker_log_count = [&](size_t server, const std::string& text) {
    return collectors[server % 2]->CountInLog(sims[server]->address, text);
  };

  std::string victim;
  {
    SqlClient sql(cluster->proxy());
    ASSERT_TRUE(WaitUntil(60000, [&] {
      return sql.Value(
                 "select count(*) from information_schema.tables where "
                 "table_schema='acd_db'") == "8" &&
             sql.Value("select count(distinct Serv_Name) from acd_db.stock_calls") == "4";
    }));
    victim = sql.Value("select @@wsrep_node_name");
  }
  ASSERT_THAT(victim, ::testing::MatchesRegex("node[1-3]"));
  ASSERT_TRUE(cluster->KillNode(victim.back() - '0'));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(cluster->RestartNode(victim.back() - '0'));

  SqlClient sql(cluster->proxy());
  // haproxy may have moved on: reads wait for what the cluster committed.
  ASSERT_TRUE(sql.Exec("set session wsrep_sync_wait = 1"));
  for (size_t server = 0; server < 4; ++server) {
    const size_t sent_by_rejoin = SentSoFar(*sims[server]).size();
    EXPECT_TRUE(Eventually(120000, [&] {
      return HoldsAPrefix(sql, *sims[server], sent_by_rejoin);
    })) << sims[server]->address;
    EXPECT_EQ(CollectorSystem::RecordConnections(sims[server]->record_file),
              std::set<std::string>{"1"})
        << sims[server]->address << " saw its ACD link dropped";
    // One line per outage: the kill, and at most one more when haproxy
    // moves back to the node it prefers.
    const int outages = worker_log_count(server, "Database writes stopped");
    EXPECT_LE(outages, 2) << collectors[server % 2]->WorkerLog(sims[server]->address);
    std::cout << sims[server]->address << ": " << outages << " outage(s) logged\n";
  }

  // One server's rows deleted through the first collector's configuration.
  const size_t calls_deleted = TableRows::Read(sql, sims[0]->address).calls.size();
  EXPECT_EQ(Ctl(*collectors[0], {"data", "delete", sims[0]->address, "--config", "1", "--yes"}),
            "Information deleted\n");
  EXPECT_TRUE(Eventually(30000, [&] { return CallsRunOnAfter(sql, *sims[0], calls_deleted); }));
  EXPECT_TRUE(Eventually(30000, [&] { return HoldsAPrefix(sql, *sims[1], 0); }))
      << "another server's rows were touched";

  // The database dropped: the collectors make the tables again and each
  // worker goes on after its own position.
  std::vector<size_t> calls_dropped;
  for (auto* sim : sims) calls_dropped.push_back(TableRows::Read(sql, sim->address).calls.size());
  EXPECT_EQ(Ctl(*collectors[0], {"data", "drop-all", "--config", "1", "--yes"}),
            "Database deleted\n");
  SqlClient after(cluster->proxy());
  ASSERT_TRUE(after.Exec("set session wsrep_sync_wait = 1"));
  ASSERT_TRUE(WaitUntil(90000, [&] {
    return after.Value(
               "select count(*) from information_schema.tables where "
               "table_schema='acd_db'") == "8";
  }));
  int said = 0;
  for (size_t server = 0; server < 4; ++server) {
    EXPECT_TRUE(Eventually(30000, [&] {
      return CallsRunOnAfter(after, *sims[server], calls_dropped[server]);
    })) << sims[server]->address;
    // Said by a worker whose batch found the database gone (another one
    // may have made the tables again before its batch came).
    const int lines = worker_log_count(server, "Journal position 0 of journal 0000000000000000");
    EXPECT_LE(lines, 1) << sims[server]->address;
    said += lines;
  }
  EXPECT_GE(said, 1);
  for (auto& collector : collectors) {
    EXPECT_EQ(collector->StopCollector(SIGTERM, 5000), std::optional<int>(0));
  }

  for (const char* table : kTables) {
    std::vector<std::string> sums;
    for (int number = 1; number <= GaleraCluster::kNodeCount; ++number) {
      SqlClient node(*cluster->node(number));
      // Reads wait until the node has applied every write set it received.
      ASSERT_TRUE(node.Exec("set session wsrep_sync_wait = 1"));
      sums.push_back(node.Rows(std::string("checksum table acd_db.") + table).at(0));
    }
    EXPECT_THAT(sums, ::testing::Each(sums.front())) << table;
  }
  std::cout << victim << " killed mid-stream and rejoined\n";
}

}  // namespace
}  // namespace callsink::test
