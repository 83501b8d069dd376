#include "tests/support/galera_cluster.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tests/support/child_process.h"

namespace callsink::test {
namespace {

// A node's rejoin waits for the server's start and a state transfer, which
// the script bounds at three minutes.
constexpr int kScriptLimitMs = 300'000;

}  // namespace

std::optional<GaleraCluster> GaleraCluster::Load() {
  const char* folder = std::getenv("CALLSINK_TEST_GALERA_DIR");
  if (folder == nullptr) return std::nullopt;
  std::optional<MariaDbEnv> proxy = MariaDbEnv::LoadFile(std::string(folder) + "/env");
  if (!proxy.has_value()) return std::nullopt;
  return GaleraCluster(folder, std::move(*proxy));
}

std::optional<MariaDbEnv> GaleraCluster::node(int number) const {
  return MariaDbEnv::LoadFile(folder_ + "/node" + std::to_string(number) + "/env");
}

bool GaleraCluster::KillNode(int number) const { return RunScript("kill-node", number); }

bool GaleraCluster::RestartNode(int number) const { return RunScript("restart-node", number); }

bool GaleraCluster::RunScript(const std::string& action, int number) const {
  const std::string log = folder_ + "/" + action + ".log";
  ChildProcess script(CALLSINK_GALERA_SCRIPT, {action, folder_, std::to_string(number)}, {}, {},
                      log);
  if (script.WaitExit(kScriptLimitMs) == 0) return true;
  std::ifstream in(log);
  std::cerr << "galera-cluster.sh " << action << " " << number << " failed:\n"
            << std::string(std::istreambuf_iterator<char>(in), {});
  return false;
}

}  // namespace callsink::test
