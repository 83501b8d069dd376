#include "tests/e2e/collector_system.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "config/config_layout.h"
#include "config/metrics_endpoint_setting.h"
#include "health/metrics_client.h"
#include "platform/registry.h"
#include "tests/support/free_port.h"

namespace callsink::test {
namespace {

std::string Bin(const std::string& program) {
  const char* bin = std::getenv("CALLSINK_BIN");
  return std::string(bin != nullptr ? bin : "build/bin") + "/" + program;
}

}  // namespace

CollectorSystem::CollectorSystem(const std::vector<std::string>& database_options)
    : CollectorSystem(SharedDatabase{}, MariaDbEnv{}) {
  env_.reset();
  if (database_.Start(database_options)) env_ = database_.env();
}

std::unique_ptr<CollectorSystem> CollectorSystem::UsingDatabase(const MariaDbEnv& database) {
  return std::unique_ptr<CollectorSystem>(new CollectorSystem(SharedDatabase{}, database));
}

CollectorSystem::CollectorSystem(SharedDatabase, const MariaDbEnv& database) : env_(database) {
  TempDir::MakeFolder(dir_ / "app/logs");
  TempDir::MakeFolder(dir_ / "root");
  std::filesystem::copy_file(Bin("callsink"), dir_ / "app/callsink");
}

CollectorSystem::~CollectorSystem() {
  if (collector_ && collector_->Running()) StopCollector(SIGTERM, 3000);
}

CollectorSystem::AcdSim* CollectorSystem::StartAcdSim(const std::string& address,
                                                      const std::vector<std::string>& args) {
  auto sim = std::make_unique<AcdSim>();
  const std::string name = "acdsim" + std::to_string(sims_.size());
  sim->address = address;
  sim->record_file = dir_ / (name + ".record");
  std::vector<std::string> all = {"--listen", address + ":0", "--record", sim->record_file};
  all.insert(all.end(), args.begin(), args.end());
  const std::string output = dir_ / (name + ".out");
  sim->process = std::make_unique<ChildProcess>(Bin("acdsim"), all, std::vector<std::string>{},
                                                std::string(), output);
  const std::string prefix = "listening " + address + ":";
  const bool listening = WaitUntil(5000, [&] {
    const std::string text = TempDir::ReadFile(output);
    const size_t at = text.find(prefix);
    if (at == std::string::npos) return false;
    sim->port = std::atoi(text.c_str() + at + prefix.size());
    return sim->port > 0;
  });
  if (!listening) {
    ADD_FAILURE() << "acdsim did not start: " << TempDir::ReadFile(output);
    return nullptr;
  }
  sims_.push_back(std::move(sim));
  return sims_.back().get();
}

std::vector<std::vector<std::string>> CollectorSystem::RecordLines(const std::string& record_file,
                                                                   const std::string& direction) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(TempDir::ReadFile(record_file));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> parts;
    for (std::string field; fields >> field;) parts.push_back(field);
    if (parts.size() >= 8 && parts[3] == direction) lines.push_back(std::move(parts));
  }
  return lines;
}

std::set<std::string> CollectorSystem::RecordConnections(const std::string& record_file) {
  std::set<std::string> connections;
  for (const char* direction : {"in", "out"}) {
    for (const auto& line : RecordLines(record_file, direction)) connections.insert(line[2]);
  }
  return connections;
}

void CollectorSystem::SetServiceValue(const std::string& name, const std::string& value) {
  Registry registry(dir_ / "root/var/lib/callsink/registry.db");
  ASSERT_TRUE(registry.Open(Registry::OpenMode::kCreate)) << registry.error();
  ASSERT_TRUE(registry.CreateKey(ConfigLayout::kServiceKey));
  ASSERT_TRUE(registry.SetValue(ConfigLayout::kServiceKey, name, value));
}

std::string CollectorSystem::JournalFolder(const std::string& server) const {
  return dir_ / ("root/var/lib/callsink/spool/" + server);
}

void CollectorSystem::WriteConfigs(const std::vector<Config>& configs) {
  Registry registry(dir_ / "root/var/lib/callsink/registry.db");
  ASSERT_TRUE(registry.Open(Registry::OpenMode::kCreate)) << registry.error();
  ASSERT_TRUE(registry.Transaction([&] {
    registry.DeleteKey(ConfigLayout::kConfigsKey);
    bool ok = registry.CreateKey(ConfigLayout::kConfigsKey);
    for (size_t i = 0; i < configs.size(); ++i) {
      const Config& config = configs[i];
      const std::string key = ConfigLayout::ConfigKey(static_cast<int>(i + 1));
      const bool admin = config.mysql_user.empty();
      ok = ok && registry.CreateKey(key) &&
           registry.SetValue(key, ConfigLayout::kAcdServer, config.acd_server) &&
           registry.SetValue(key, ConfigLayout::kAcdPort, std::to_string(config.acd_port)) &&
           registry.SetValue(key, ConfigLayout::kMysqlServer, config.mysql_server) &&
           registry.SetValue(key, ConfigLayout::kMysqlUser,
                             admin ? database_env().admin_user : config.mysql_user) &&
           registry.SetValue(key, ConfigLayout::kMysqlPassword,
                             admin ? database_env().admin_password : config.mysql_password) &&
           registry.SetValue(key, ConfigLayout::kStatus, "");
    }
    metrics_port_ = FreePort();
    return ok &&
           registry.SetValue(ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount,
                             std::to_string(configs.size())) &&
           registry.CreateKey(MetricsEndpointSetting::kKey) &&
           registry.SetValue(MetricsEndpointSetting::kKey, MetricsEndpointSetting::kValue,
                             "127.0.0.1:" + std::to_string(metrics_port_));
  }));
}

std::string CollectorSystem::ScrapeMetrics() const {
  std::string page, error;
  return MetricsClient::Fetch("127.0.0.1", metrics_port_, &page, &error) ? page : "";
}

std::string CollectorSystem::Status(int n) {
  Registry registry(dir_ / "root/var/lib/callsink/registry.db");
  std::string status;
  if (registry.Open(Registry::OpenMode::kExisting)) {
    registry.QueryValue(ConfigLayout::ConfigKey(n), ConfigLayout::kStatus, &status);
  }
  return status;
}

std::vector<std::string> CollectorSystem::CollectorEnvironment() const {
  const MariaDbEnv& database = database_env();
  return {"CALLSINK_ROOT=" + dir_ / "root", database.socket.empty()
                                                ? "MYSQL_TCP_PORT=" + std::to_string(database.port)
                                                : "MYSQL_UNIX_PORT=" + database.socket};
}

void CollectorSystem::StartCollector(const std::vector<std::string>& env,
                                     const std::vector<std::string>& launcher) {
  std::vector<std::string> all = CollectorEnvironment();
  all.insert(all.end(), env.begin(), env.end());
  std::vector<std::string> command = launcher;
  command.push_back(dir_ / "app/callsink");
  collector_ = std::make_unique<ChildProcess>(
      command.front(), std::vector<std::string>(command.begin() + 1, command.end()), all,
      dir_.path(), dir_ / "callsink.out");
}

std::optional<int> CollectorSystem::StopCollector(int signal_number, int timeout_ms) {
  collector_->Signal(signal_number);
  return collector_->WaitExit(timeout_ms);
}

std::string CollectorSystem::WorkerLog(const std::string& server) const {
  return TempDir::ReadFile(dir_ / ("app/logs/acd_" + server + ".log"));
}

int CollectorSystem::CountInLog(const std::string& server, const std::string& text) const {
  const std::string log = WorkerLog(server);
  int count = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace callsink::test
