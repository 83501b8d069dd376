#include "collector/call_sink.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "config/config_layout.h"
#include "config/database_tls_setting.h"
#include "config/metrics_endpoint_setting.h"
#include "health/metrics_client.h"
#include "health/metrics_endpoint.h"
#include "platform/registry.h"
#include "platform/sqlite_connection.h"
#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::TempDir;

// A run loop whose workers only record what they were given.
class RecordingCallSink : public CallSink {
 public:
  void RunWorker(std::unique_ptr<ServerConfig> config, std::shared_ptr<WorkerStats>,
                    StopLatch::Hold) override {
    std::lock_guard<std::mutex> lock(mutex_);
    configs_.push_back(*config);
  }
  std::vector<ServerConfig> configs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return configs_;
  }

 private:
  std::mutex mutex_;
  std::vector<ServerConfig> configs_;
};

// Runs a loop of its own on `file` once, with the close event set, and
// returns how many workers it started, once each has been handed its record
// (the sink, where they record it, goes away afterwards).
int RunLoop(const std::string& file) {
  RecordingCallSink sink;
  sink.set_registry_file(file);
  sink.closeEvent().Set();
  sink.Run();
  EXPECT_TRUE(
      test::WaitUntil(5000, [&] { return sink.configs().size() == size_t(sink.worker_count()); }));
  return sink.worker_count();
}

class CallSinkRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = get_current_dir_name();
    TempDir::MakeFolder(dir_ / "logs");
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    sink_.set_registry_file(registry_file_);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_dir_), 0);
    free(old_dir_);
  }

  // The store, created with the metrics endpoint off unless a test sets it:
  // the tests compare the common log whole.
  Registry& OpenRegistry() {
    if (!registry_.IsOpen()) {
      EXPECT_TRUE(registry_.Open(Registry::OpenMode::kCreate));
      SetMetricsEndpoint("off");
    }
    return registry_;
  }
  void SetMetricsEndpoint(const std::string& value) {
    registry_.CreateKey(MetricsEndpointSetting::kKey);
    registry_.SetValue(MetricsEndpointSetting::kKey, MetricsEndpointSetting::kValue, value);
  }
  void SetCount(const std::string& count) {
    OpenRegistry().CreateKey(ConfigLayout::kConfigsKey);
    registry_.SetValue(ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount, count);
  }
  void AddConfig(int n, const std::string& server, const std::string& port = "4660") {
    const std::string key = ConfigLayout::ConfigKey(n);
    OpenRegistry().CreateKey(key);
    registry_.SetValue(key, ConfigLayout::kAcdServer, server);
    registry_.SetValue(key, ConfigLayout::kAcdPort, port);
    registry_.SetValue(key, ConfigLayout::kMysqlServer, "db" + std::to_string(n));
    registry_.SetValue(key, ConfigLayout::kMysqlUser, "user");
    registry_.SetValue(key, ConfigLayout::kMysqlPassword, "secret");
  }

  // Runs the loop with the close event already set: every worker is started,
  // the wait returns at once.
  std::vector<ServerConfig> RunOnce(size_t expected_workers) {
    sink_.closeEvent().Set();
    EXPECT_EQ(sink_.Run(), 0);
    EXPECT_TRUE(test::WaitUntil(5000, [&] { return sink_.configs().size() >= expected_workers; }));
    return sink_.configs();
  }
  // The common log without its time stamps.
  std::vector<std::string> CommonLog() {
    std::vector<std::string> lines;
    const std::string content = TempDir::ReadFile(dir_ / "logs/acd_common.log");
    const std::regex entry(R"((\d\d:\d\d:\d\d: |-+ Date: \d\d/\d\d/\d\d -+)(.*)\r)");
    size_t begin = 0;
    for (size_t end; (end = content.find('\n', begin)) != std::string::npos; begin = end + 1) {
      std::smatch match;
      const std::string line = content.substr(begin, end - begin);
      EXPECT_TRUE(std::regex_match(line, match, entry)) << line;
      lines.push_back(match[1].str()[0] == '-' ? "<banner>" : match[2].str());
    }
    return lines;
  }

  TempDir dir_;
  char* old_dir_ = nullptr;
  std::string registry_file_ = dir_ / "registry.db";
  Registry registry_{registry_file_};
  RecordingCallSink sink_;
};

TEST_F(CallSinkRunTest, StartsOneWorkerPerConfigurationInOrderAndLogsTheRun) {
  SetCount("3");
  AddConfig(1, "10.0.0.1");
  AddConfig(2, "10.0.0.2", "4661");
  AddConfig(3, "10.0.0.3");
  AddConfig(4, "10.0.0.4");  // present but not counted
  registry_.CreateKey(DatabaseTlsSetting::kKey);
  registry_.SetValue(DatabaseTlsSetting::kKey, DatabaseTlsSetting::kModeValue, "Verify-CA");
  registry_.SetValue(DatabaseTlsSetting::kKey, DatabaseTlsSetting::kCaValue, "/etc/db-ca.pem");
  const auto configs = RunOnce(3);
  EXPECT_EQ(CommonLog(),
            (std::vector<std::string>{"<banner>", "Starting thread for server: 10.0.0.1",
                                      "Starting thread for server: 10.0.0.2",
                                      "Starting thread for server: 10.0.0.3",
                                      "Waiting for close event", "Exitting run function"}));
  ASSERT_EQ(configs.size(), 3u);
  EXPECT_EQ(sink_.worker_count(), 3);
  bool found_second = false;
  for (const ServerConfig& config : configs) {
    if (config.acdServer != "10.0.0.2") continue;
    found_second = true;
    EXPECT_EQ(config.acdPort, 4661);
    EXPECT_EQ(config.mysqlServer, "db2");
    EXPECT_EQ(config.mysqlUser, "user");
    EXPECT_EQ(config.mysqlPassword, "secret");
    EXPECT_EQ(config.registryPath, "Software\\Orvanta Technologies\\ACD Service\\Configs\\Config2");
    EXPECT_EQ(config.databaseTls.mode, DatabaseTlsSetting::Mode::kVerifyCa);
    EXPECT_EQ(config.databaseTls.ca, "/etc/db-ca.pem");
  }
  EXPECT_TRUE(found_second);
}

TEST_F(CallSinkRunTest, ConfigCountIsReadLikeAtoi) {
  struct Case {
    const char* count;
    int workers;
  };
  for (const Case& c : {Case{" 2abc", 2}, Case{"-1", 0}, Case{"abc", 0}, Case{"", 0}, Case{"+1", 1},
                        Case{"0", 0}}) {
    SCOPED_TRACE(c.count);
    SetCount(c.count);
    AddConfig(1, "10.0.0.1");
    AddConfig(2, "10.0.0.2");
    EXPECT_EQ(RunLoop(registry_file_), c.workers);
  }
}

TEST_F(CallSinkRunTest, NoConfigsKeyLogsOnlyTheWait) {
  OpenRegistry();
  RunOnce(0);
  EXPECT_EQ(CommonLog(), (std::vector<std::string>{"<banner>", "Waiting for close event",
                                                   "Exitting run function"}));
}

TEST_F(CallSinkRunTest, OversizedCountAndValuesAreBoundedAndLogged) {
  SetCount("150");
  for (int n = 1; n <= 150; ++n) AddConfig(n, "10.1.0." + std::to_string(n));
  registry_.SetValue(ConfigLayout::ConfigKey(2), ConfigLayout::kMysqlPassword,
                     std::string(100, 'p'));
  registry_.DeleteKey(ConfigLayout::ConfigKey(3));
  const auto configs = RunOnce(99);
  EXPECT_EQ(sink_.worker_count(), ConfigLayout::kMaxConfigs);
  EXPECT_EQ(configs.size(), 99u);
  const auto log = CommonLog();
  EXPECT_EQ(log[1],
            "ConfigCount 150 exceeds the 99 servers one collector serves; the rest are ignored");
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Value MYSQL_Password of Config2 is longer than 99 characters and is "
                      "ignored"),
            log.end());
  for (const ServerConfig& config : configs) {
    if (config.registryPath == ConfigLayout::ConfigKey(2)) {
      EXPECT_EQ(config.mysqlPassword, "");
      EXPECT_EQ(config.acdServer, "10.1.0.2");
    }
    if (config.registryPath == ConfigLayout::ConfigKey(3)) {  // missing subkey
      EXPECT_EQ(config.acdServer, "");
      EXPECT_EQ(config.acdPort, 0);
    }
  }
}

TEST_F(CallSinkRunTest, UnusableRegistryFileIsReportedOnceAndLeftAlone) {
  RunLoop(registry_file_);  // missing file
  auto log = CommonLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1].rfind("Configuration store unavailable, no server is collected: ", 0), 0u);

  const std::string junk = "not a database at all";
  TempDir::WriteFile(registry_file_, junk);
  EXPECT_EQ(RunLoop(registry_file_), 0);
  EXPECT_EQ(TempDir::ReadFile(registry_file_), junk);
}

// The endpoint serves while the run waits and is gone once it returns; one
// it cannot have is a line of the common log, and the workers run anyway.
TEST_F(CallSinkRunTest, MetricsEndpointServesDuringTheRunAndReportsWhatItCannotHave) {
  SetCount("1");
  AddConfig(1, "10.0.0.1");
  const int port = test::FreePort();
  SetMetricsEndpoint("127.0.0.1:" + std::to_string(port));
  std::string page, error;
  {
    // A sink of its own: the store's lock goes with it.
    RecordingCallSink sink;
    sink.set_registry_file(registry_file_);
    std::thread run([&] { sink.Run(); });
    EXPECT_TRUE(test::WaitUntil(5000, [&] {
      return MetricsClient::Fetch("127.0.0.1", port, &page, &error);
    })) << error;
    EXPECT_NE(page.find("callsink_link_up{server=\"10.0.0.1\",config=\"1\",link=\"acd\"} 0"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.find("secret"), std::string::npos) << "a password on the page";
    sink.closeEvent().Set();
    run.join();
  }
  EXPECT_FALSE(MetricsClient::Fetch("127.0.0.1", port, &page, &error));

  // Taken by another endpoint: a second collector on the same port.
  MetricsEndpoint taken([] { return std::string(); });
  ASSERT_TRUE(taken.Start("127.0.0.1", 0, &error)) << error;
  for (const auto& [value, line] : std::vector<std::pair<std::string, std::string>>{
           {"127.0.0.1:" + std::to_string(taken.port()),
            "Metrics endpoint 127.0.0.1:" + std::to_string(taken.port()) +
                " unavailable (Address already in use); no metrics are served"},
           {"9661",
            "Metrics endpoint \"9661\" is neither HOST:PORT nor off; no metrics are served"},
           {"127.0.0.1:" + std::to_string(port) + " " + dir_ / "missing.yml",
            "Metrics endpoint 127.0.0.1:" + std::to_string(port) + " unavailable (" +
                dir_ / "missing.yml" +
                ": cannot be read: No such file or directory); no metrics are served"}}) {
    SCOPED_TRACE(value);
    // "ENDPOINT WEBCONFIG": the web configuration file after a blank.
    const size_t blank = value.find(' ');
    SetMetricsEndpoint(value.substr(0, blank));
    registry_.SetValue(MetricsEndpointSetting::kKey, MetricsEndpointSetting::kWebConfigValue,
                       blank == std::string::npos ? "" : value.substr(blank + 1));
    RecordingCallSink sink;
    sink.set_registry_file(registry_file_);
    sink.closeEvent().Set();
    sink.Run();
    EXPECT_TRUE(test::WaitUntil(5000, [&] { return sink.configs().size() == 1; }));
    const auto log = CommonLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), line), 1) << testing::PrintToString(log);
  }
}

// A writer holding the store longer than the busy timeout does not hold
// up the reading; a store that cannot be read says so.
TEST_F(CallSinkRunTest, AWriterDoesNotHoldUpTheReadAndAnUnreadableStoreIsNamed) {
  SetCount("1");
  AddConfig(1, "10.0.0.1");
  Registry writer(registry_file_);
  ASSERT_TRUE(writer.Open(Registry::OpenMode::kExisting));
  EXPECT_TRUE(writer.Transaction([&] { return RunLoop(registry_file_) == 1; }));

  // A values table without its columns: the keys read, the values do not.
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(registry_file_.c_str(), &handle), SQLITE_OK);
  const SqliteConnection damaged(handle);
  ASSERT_EQ(sqlite3_exec(handle, "DROP TABLE reg_values; CREATE TABLE reg_values (key, name)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(RunLoop(registry_file_), 0);
  EXPECT_EQ(CommonLog().at(5),
            "Configuration store could not be read, no further server is collected: cannot read "
            "the registry: no such column: type");
}

// Runs the loop once in a child process that first makes its own
// surroundings with `prepare` (fewer rights, another mount); returns how
// many workers it started, -1 when `prepare` failed or the child crashed.
int RunInChild(const std::string& registry_file, const std::function<bool()>& prepare) {
  const pid_t child = fork();
  if (child == 0) {
    // Never back into the test: an exception ends the child as a crash.
    [&]() noexcept { _exit(prepare() ? RunLoop(registry_file) : 255); }();
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

// A user allowed no thread at all: every worker's thread fails. A line feed
// in a server's name cannot forge a line of the log either.
TEST_F(CallSinkRunTest, AThreadThatCannotBeCreatedIsLoggedAndTheRunGoesOn) {
  SetCount("2");
  AddConfig(1, "10.0.0.1");
  AddConfig(2, "10.0.0.2\r\n12:00:00: Exitting run function");
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
    ASSERT_EQ(chown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  }
  ASSERT_EQ(chown(dir_.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  EXPECT_EQ(RunInChild(registry_file_,
                       [&] {
                         const rlimit none{0, 0};
                         return setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0 &&
                                setrlimit(RLIMIT_NPROC, &none) == 0;
                       }),
            0);
  const std::string second = "10.0.0.2\\x0d\\x0a12:00:00: Exitting run function";
  const std::string failed = " could not be started: Resource temporarily unavailable";
  EXPECT_EQ(
      CommonLog(),
      (std::vector<std::string>{
          "<banner>", "Starting thread for server: 10.0.0.1", "Thread for server 10.0.0.1" + failed,
          "Starting thread for server: " + second, "Thread for server " + second + failed,
          "Waiting for close event", "Exitting run function"}));
}

// The state folder read-only as a whole: the store is read, no state is
// written, and the journals go to the runtime folder.
TEST_F(CallSinkRunTest, AStoreOnAReadOnlyMountIsReadAndNoStateIsWritten) {
  const std::string root = dir_ / "root";
  const std::string store = root + "/var/lib/callsink";
  const std::string file = store + "/registry.db";
  {
    Registry registry(file);
    ASSERT_TRUE(registry.Open(Registry::OpenMode::kCreate));
    ASSERT_TRUE(registry.CreateKey(ConfigLayout::ConfigKey(1)));
    ASSERT_TRUE(registry.CreateKey(MetricsEndpointSetting::kKey));
    ASSERT_TRUE(
        registry.SetValue(MetricsEndpointSetting::kKey, MetricsEndpointSetting::kValue, "off"));
    ASSERT_TRUE(registry.SetValue(ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount, "1"));
    ASSERT_TRUE(
        registry.SetValue(ConfigLayout::ConfigKey(1), ConfigLayout::kAcdServer, "10.0.0.1"));
  }
  EXPECT_EQ(RunInChild(file,
                       [&] {
                         // A mount of the child's own: the folder read-only for it alone.
                         return setenv("CALLSINK_ROOT", root.c_str(), 1) == 0 &&
                                unshare(CLONE_NEWNS) == 0 &&
                                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                                mount(store.c_str(), store.c_str(), nullptr, MS_BIND, nullptr) ==
                                    0 &&
                                mount(nullptr, store.c_str(), nullptr,
                                      MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
                       }),
            1);
  EXPECT_EQ(CommonLog(), (std::vector<std::string>{
                             "<banner>",
                             "Configuration store read-only, connection states are not written: "
                             "cannot open registry file " +
                                 file + ": Read-only file system",
                             "Journal folder " + store +
                                 "/spool cannot be written (Read-only file system); the journals "
                                 "are kept in " +
                                 root +
                                 "/run/callsink/spool, which holds them only while the collector "
                                 "runs",
                             "Starting thread for server: 10.0.0.1", "Waiting for close event",
                             "Exitting run function"}));
}

TEST_F(CallSinkRunTest, MissingLogsFolderEndsTheRunAtOnceWithoutWorkers) {
  SetCount("1");
  AddConfig(1, "10.0.0.1");
  ASSERT_EQ(rmdir("logs"), 0);
  sink_.closeEvent().Set();
  EXPECT_EQ(sink_.Run(), 0);
  EXPECT_EQ(sink_.worker_count(), 0);
  EXPECT_NE(access("logs", F_OK), 0);
}

}  // namespace
}  // namespace callsink
