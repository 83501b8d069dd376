#include "tests/support/galera_cluster.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "store/mysql_connection.h"
#include "tests/support/child_process.h"
#include "tests/support/sql_client.h"

namespace callsink::test {
namespace {

// The rows a writer inserted and the server acknowledged, with the node that
// took each. Shared between the writer thread and the test.
struct Acknowledged {
  size_t Total() {
    std::lock_guard lock(mutex);
    return keys.size();
  }
  size_t By(const std::string& node) {
    std::lock_guard lock(mutex);
    return per_node[node];
  }

  std::mutex mutex;
  std::vector<int> keys;
  std::map<std::string, size_t> per_node;
};

// Inserts k = 1, 2, ... through `proxy` until `stop`, on a fresh connection
// after every failure; a failed insert's k is given up (it may or may not
// have committed).
void WriteThrough(const MariaDbEnv& proxy, const std::atomic<bool>& stop, Acknowledged& acked) {
  MySqlConnection connection;
  for (int k = 1; !stop; ++k) {
    if (!connection) {
      connection = MySqlConnection(mysql_init(nullptr));
      const unsigned int seconds = 5;
      mysql_options(connection.get(), MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
      mysql_options(connection.get(), MYSQL_OPT_READ_TIMEOUT, &seconds);
      mysql_options(connection.get(), MYSQL_OPT_WRITE_TIMEOUT, &seconds);
      if (mysql_real_connect(connection.get(), proxy.host.c_str(), proxy.admin_user.c_str(),
                             proxy.admin_password.c_str(), nullptr,
                             static_cast<unsigned int>(proxy.port), nullptr, 0) == nullptr) {
        connection.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
    }
    const std::string insert = "insert into galera_smoke.writes values (" + std::to_string(k) +
                               ", @@wsrep_node_name) returning node";
    MYSQL_RES* result = nullptr;
    if (mysql_query(connection.get(), insert.c_str()) != 0 ||
        (result = mysql_store_result(connection.get())) == nullptr) {
      connection.Close();
      continue;
    }
    MYSQL_ROW row = mysql_fetch_row(result);
    const std::string node = row != nullptr && row[0] != nullptr ? row[0] : "";
    mysql_free_result(result);
    std::lock_guard lock(acked.mutex);
    acked.keys.push_back(k);
    ++acked.per_node[node];
  }
}

TEST(GaleraClusterTest, WritesThroughHaproxyGoOnWhileItsNodeIsKilledAndTheNodeCatchesUp) {
  const std::optional<GaleraCluster> cluster = GaleraCluster::Load();
  CALLSINK_REQUIRE_GALERA(cluster);
  std::string victim;
  {
    SqlClient setup(cluster->proxy());
    ASSERT_TRUE(setup.Exec("drop database if exists galera_smoke"));
    ASSERT_TRUE(setup.Exec("create database galera_smoke"));
    ASSERT_TRUE(
        setup.Exec("create table galera_smoke.writes (k int primary key, node varchar(16))"));
    victim = setup.Value("select @@wsrep_node_name");
  }
  ASSERT_THAT(victim, ::testing::MatchesRegex("node[1-3]"));
  const int victim_number = victim.back() - '0';

  Acknowledged acked;
  std::atomic<bool> stop = false;
  std::thread writer(WriteThrough, std::cref(cluster->proxy()), std::cref(stop), std::ref(acked));
  EXPECT_TRUE(WaitUntil(60'000, [&] { return acked.By(victim) >= 20; }));
  ASSERT_TRUE(cluster->KillNode(victim_number));
  const auto killed = std::chrono::steady_clock::now();
  const size_t before_kill = acked.Total();
  EXPECT_TRUE(WaitUntil(120'000, [&] { return acked.Total() >= before_kill + 20; }));
  const std::chrono::duration<double> failover = std::chrono::steady_clock::now() - killed;
  EXPECT_EQ(acked.By(victim), before_kill) << "a write went to the killed node";
  const bool restarted = cluster->RestartNode(victim_number);
  const std::chrono::duration<double> rejoin = std::chrono::steady_clock::now() - killed;
  const size_t at_restart = acked.Total();
  EXPECT_TRUE(WaitUntil(60'000, [&] { return acked.Total() >= at_restart + 20; }));
  stop = true;
  writer.join();
  ASSERT_TRUE(restarted);
  std::cout << "20 writes through haproxy " << failover.count() << " s after the kill of " << victim
            << ", Synced again after " << rejoin.count() << " s; " << acked.Total()
            << " writes acknowledged\n";

  std::string in_list;
  for (int k : acked.keys) in_list += (in_list.empty() ? "" : ",") + std::to_string(k);
  std::vector<std::string> checksums;
  for (int number = 1; number <= GaleraCluster::kNodeCount; ++number) {
    SqlClient node(*cluster->node(number));
    // Reads wait until the node has applied every write set it received.
    ASSERT_TRUE(node.Exec("set session wsrep_sync_wait = 1"));
    EXPECT_EQ(node.Value("select count(*) from galera_smoke.writes where k in (" + in_list + ")"),
              std::to_string(acked.keys.size()))
        << "node" << number << " lacks acknowledged rows";
    checksums.push_back(node.Value("select variable_value from information_schema.global_status "
                                   "where variable_name = 'wsrep_local_state_comment'") +
                        " " + node.Rows("checksum table galera_smoke.writes").at(0));
  }
  EXPECT_THAT(checksums, ::testing::Each(checksums.front()));
  EXPECT_THAT(checksums.front(), ::testing::StartsWith("Synced "));
  SqlClient cleanup(cluster->proxy());
  cleanup.Exec("drop database galera_smoke");
}

}  // namespace
}  // namespace callsink::test
