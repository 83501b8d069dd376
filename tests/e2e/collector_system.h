#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/mariadb_server.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {

// The whole system as an administrator runs it: the real callsink binary in
// a folder of its own (with logs/), a configuration store below a private
// CALLSINK_ROOT, acdsim processes on loopback addresses, and a private
// MariaDB that the collector reaches through "localhost" (MYSQL_UNIX_PORT).
// Every process it starts is ended by PID when the object goes away.
class CollectorSystem {
 public:
  struct AcdSim {
    std::string address;
    int port = 0;
    std::string record_file;
    std::unique_ptr<ChildProcess> process;
  };
  struct Config {
    std::string acd_server;
    int acd_port = 0;
    std::string mysql_server = "localhost";
    std::string mysql_user{};      // empty: the server's administrator
    std::string mysql_password{};  // used with mysql_user
  };

  // Starts a private MariaDB for this system, with `database_options` for
  // mariadbd. Check database_env() after.
  explicit CollectorSystem(const std::vector<std::string>& database_options = {});
  // Uses `database` (one the test started, a cluster's proxy) rather than a
  // server of its own; the collector reaches a database without a socket at
  // "127.0.0.1" through MYSQL_TCP_PORT.
  static std::unique_ptr<CollectorSystem> UsingDatabase(const MariaDbEnv& database);
  ~CollectorSystem();

  // The private server; Stop, Kill and Restart keep its socket and port.
  MariaDbServer& database() { return database_; }
  // Where it listens; empty when it could not be started.
  const std::optional<MariaDbEnv>& database_if_started() const { return env_; }
  const MariaDbEnv& database_env() const { return *env_; }

  // Starts acdsim listening on `address` (a free port) with `args`, records
  // its traffic, and returns it once it listens; null on failure.
  AcdSim* StartAcdSim(const std::string& address, const std::vector<std::string>& args);
  // The "out" or "in" lines of an acdsim record, split into fields.
  static std::vector<std::vector<std::string>> RecordLines(const std::string& record_file,
                                                           const std::string& direction);

  // Connection numbers (as text) that a record shows messages in or out on.
  static std::set<std::string> RecordConnections(const std::string& record_file);

  // Writes ConfigCount and Config1..N, and the metrics endpoint on a free
  // port of 127.0.0.1.
  void WriteConfigs(const std::vector<Config>& configs);
  // Sets `name` below the service's key, beside Configs.
  void SetServiceValue(const std::string& name, const std::string& value);
  // The folder of a server's journal.
  std::string JournalFolder(const std::string& server) const;
  // The running collector's metrics page; "" when it does not answer.
  std::string ScrapeMetrics() const;
  // The Status value of ConfigN ("" when missing).
  std::string Status(int n);

  // Starts the collector; `env` ("NAME=value") adds to its environment, and
  // a `launcher` (a program and its arguments, such as nsenter's) runs it.
  void StartCollector(const std::vector<std::string>& env = {},
                      const std::vector<std::string>& launcher = {});
  // What the collector's environment adds: the store's root and the
  // database's socket (or TCP port).
  std::vector<std::string> CollectorEnvironment() const;
  // Sends `signal_number` and waits up to `timeout_ms` for the exit code.
  std::optional<int> StopCollector(int signal_number, int timeout_ms);
  ChildProcess* collector() { return collector_.get(); }

  // A worker's log ("logs/acd_<server>.log") and the common log.
  std::string WorkerLog(const std::string& server) const;
  std::string CommonLog() const { return WorkerLog("common"); }
  // How often `text` occurs in the server's log.
  int CountInLog(const std::string& server, const std::string& text) const;

  const std::string& folder() const { return dir_.path(); }

 private:
  struct SharedDatabase {};
  CollectorSystem(SharedDatabase, const MariaDbEnv& database);

  TempDir dir_;
  MariaDbServer database_;
  std::optional<MariaDbEnv> env_;
  std::vector<std::unique_ptr<AcdSim>> sims_;
  std::unique_ptr<ChildProcess> collector_;
  int metrics_port_ = 0;
};

}  // namespace callsink::test
