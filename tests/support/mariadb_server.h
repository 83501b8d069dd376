#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/mariadb_env.h"
#include "tests/support/temp_dir.h"

namespace callsink::test {

// A private MariaDB server of its own, in a temporary folder, for a test that
// stops, kills, pauses or restarts the server without disturbing the shared
// fixture. Runs tests/support/mariadb/mariadb-instance.sh; the server is
// stopped (by its PID) when the object goes away.
//
// Owned and used by one thread. Operations return false when the script or
// the signal failed; the script's messages go to stderr.
class MariaDbServer {
 public:
  MariaDbServer() = default;
  ~MariaDbServer();
  MariaDbServer(const MariaDbServer&) = delete;
  MariaDbServer& operator=(const MariaDbServer&) = delete;

  // Starts a fresh server; `options` go to mariadbd after the script's own.
  // False also when mariadbd is not installed (env() then stays empty).
  bool Start(const std::vector<std::string>& options = {});
  // Options for Start that make the server offer TLS with `cert` and `key`
  // and trust client certificates of `ca`. The server reads the files again
  // at FLUSH SSL.
  static std::vector<std::string> TlsOptions(const std::string& ca, const std::string& cert,
                                             const std::string& key);
  // SIGTERM and wait (SIGKILL after the script's limit).
  bool Stop();
  // SIGKILL by PID; returns once the process is gone.
  bool Kill();
  // SIGSTOP / SIGCONT: a server that accepts connections but never answers.
  // Each returns once the process has reached the new state.
  bool Pause();
  bool Resume();
  // Stops the server if it runs and starts it on the same port and datadir.
  bool Restart();

  // Where it listens; empty before a successful Start and after Stop.
  const std::optional<MariaDbEnv>& env() const { return env_; }
  const std::string& folder() const { return folder_; }

 private:
  bool RunScript(const char* action, const std::vector<std::string>& options);
  bool Signal(int signal);
  bool LoadEnv();

  TempDir temp_;
  const std::string folder_ = temp_ / "mariadb";
  std::optional<MariaDbEnv> env_;
  pid_t pid_ = 0;
};

}  // namespace callsink::test
