#pragma once

#include <optional>
#include <string>

#include "tests/support/mariadb_env.h"

namespace callsink::test {

// The private Galera cluster of the CTest fixture `galera`: three nodes
// behind haproxy, started by tests/support/galera/galera-cluster.sh in the
// folder named by CALLSINK_TEST_GALERA_DIR (set by callsink_test). Kills and
// restarts nodes through that script. Used by one thread.
class GaleraCluster {
 public:
  static constexpr int kNodeCount = 3;

  // The fixture's cluster; empty when the variable is unset or no cluster
  // runs there (the fixture skipped: something is not installed).
  static std::optional<GaleraCluster> Load();

  // haproxy's address (host and port, no socket) and the users.
  const MariaDbEnv& proxy() const { return proxy_; }
  // Node `number` (1 to kNodeCount) directly, over its socket, whether it
  // runs or not; empty when there is no such node.
  std::optional<MariaDbEnv> node(int number) const;

  // SIGKILL to the node; returns once it is gone.
  bool KillNode(int number) const;
  // Starts the node again; returns once it has rejoined and is Synced.
  bool RestartNode(int number) const;

 private:
  GaleraCluster(std::string folder, MariaDbEnv proxy)
      : folder_(std::move(folder)), proxy_(std::move(proxy)) {}
  bool RunScript(const std::string& action, int number) const;

  std::string folder_;
  MariaDbEnv proxy_;
};

}  // namespace callsink::test

// Ends the current test when `cluster` (a std::optional<GaleraCluster>) is
// empty: a failure in CI, a skip on a developer's machine.
#define CALLSINK_REQUIRE_GALERA(cluster)                                             \
  CALLSINK_REQUIRE_SERVER(cluster,                                                   \
                          "No private Galera cluster: mariadbd, galera-4, haproxy, " \
                          "mariadb-backup or socat missing, or the cluster failed to start")
