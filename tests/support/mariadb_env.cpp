#include "tests/support/mariadb_env.h"

#include <cstdlib>
#include <fstream>

namespace callsink::test {

std::optional<MariaDbEnv> MariaDbEnv::Load() {
  const char* file = std::getenv("CALLSINK_TEST_MARIADB_ENV");
  if (file == nullptr) return std::nullopt;
  return LoadFile(file);
}

std::optional<MariaDbEnv> MariaDbEnv::LoadFile(const std::string& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  MariaDbEnv env;
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (name == "MARIADB_SOCKET") env.socket = value;
    if (name == "MARIADB_PORT") env.port = std::atoi(value.c_str());
    if (name == "MARIADB_HOST") env.host = value;
    if (name == "MARIADB_ADMIN_USER") env.admin_user = value;
    if (name == "MARIADB_ADMIN_PASSWORD") env.admin_password = value;
    if (name == "MARIADB_LIMITED_USER") env.limited_user = value;
    if (name == "MARIADB_LIMITED_PASSWORD") env.limited_password = value;
  }
  if ((env.socket.empty() && env.host.empty()) || env.port <= 0) return std::nullopt;
  return env;
}

void MariaDbEnv::ExportToClientLibrary() const {
  setenv("MYSQL_UNIX_PORT", socket.c_str(), 1);
  setenv("MYSQL_TCP_PORT", std::to_string(port).c_str(), 1);
}

bool RunsInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

}  // namespace callsink::test
