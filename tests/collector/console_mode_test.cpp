// The real collector binary in console mode, as an administrator runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>

#include "config/config_layout.h"
#include "config/metrics_endpoint_setting.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::ChildProcess;
using test::TempDir;

class ConsoleModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The collector in a folder of its own, with logs/ beside it.
    TempDir::MakeFolder(dir_ / "app/logs");
    const char* bin = std::getenv("CALLSINK_BIN");
    ASSERT_NE(bin, nullptr);
    std::filesystem::copy_file(std::string(bin) + "/callsink", program_);
    Registry registry(dir_ / "root/var/lib/callsink/registry.db");
    ASSERT_TRUE(registry.Open(Registry::OpenMode::kCreate));
    registry.CreateKey(ConfigLayout::kConfigsKey);
    registry.SetValue(ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount, "2");
    // The common log is compared whole; no endpoint may add to it.
    registry.CreateKey(MetricsEndpointSetting::kKey);
    registry.SetValue(MetricsEndpointSetting::kKey, MetricsEndpointSetting::kValue, "off");
    for (int n = 1; n <= 2; ++n) {
      const std::string key = ConfigLayout::ConfigKey(n);
      registry.CreateKey(key);
      registry.SetValue(key, ConfigLayout::kAcdServer, "127.0.0." + std::to_string(n));
      registry.SetValue(key, ConfigLayout::kAcdPort, "1");
    }
  }

  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args) {
    // Started from another folder: the collector must find its logs by itself.
    return std::make_unique<ChildProcess>(
        program_, args, std::vector<std::string>{"CALLSINK_ROOT=" + dir_.path() + "/root"},
        dir_.path());
  }
  std::string CommonLog() { return TempDir::ReadFile(dir_ / "app/logs/acd_common.log"); }
  bool WaitingLogged() {
    return test::WaitUntil(
        5000, [&] { return CommonLog().find("Waiting for close event") != std::string::npos; });
  }

  TempDir dir_;
  std::string program_ = dir_ / "app/callsink";
};

TEST_F(ConsoleModeTest, InterruptAndQuitAreIgnoredAndHangupEndsTheRunCleanly) {
  for (int stop_signal : {SIGHUP, SIGTERM}) {
    SCOPED_TRACE(stop_signal);
    std::filesystem::remove(dir_ / "app/logs/acd_common.log");
    auto collector = Start({});
    ASSERT_TRUE(WaitingLogged());
    collector->Signal(SIGINT);
    collector->Signal(SIGQUIT);
    EXPECT_FALSE(collector->WaitExit(300).has_value()) << "Ctrl+C must not end console mode";

    const auto stop_at = std::chrono::steady_clock::now();
    collector->Signal(stop_signal);
    // The workers are inside their 10 s wait; nobody waits for them.
    const auto code = collector->WaitExit(2000);
    ASSERT_TRUE(code.has_value()) << "still running 2 s after the stop";
    EXPECT_EQ(*code, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stop_at, std::chrono::seconds(2));

    const std::regex expected(
        "------------------- Date: \\d\\d/\\d\\d/\\d\\d -------------------\r\n"
        "\\d\\d:\\d\\d:\\d\\d: Starting thread for server: 127\\.0\\.0\\.1\r\n"
        "\\d\\d:\\d\\d:\\d\\d: Starting thread for server: 127\\.0\\.0\\.2\r\n"
        "\\d\\d:\\d\\d:\\d\\d: Waiting for close event\r\n"
        "\\d\\d:\\d\\d:\\d\\d: Exitting run function\r\n");
    EXPECT_TRUE(std::regex_match(CommonLog(), expected)) << CommonLog();
  }
  // Each worker keeps its own log, named after its server.
  EXPECT_TRUE(std::filesystem::exists(dir_ / "app/logs/acd_127.0.0.1.log"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "app/logs/acd_127.0.0.2.log"));
}

TEST_F(ConsoleModeTest, NameOptionByHandAndOptionsWithTrailingBlankRunTheConsole) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-name=ACD Service"}, {"-register "}, {"-Stop"}}) {
    SCOPED_TRACE(args[0]);
    std::filesystem::remove(dir_ / "app/logs/acd_common.log");
    auto collector = Start(args);
    ASSERT_TRUE(WaitingLogged());
    collector->Signal(SIGHUP);
    EXPECT_EQ(collector->WaitExit(2000), std::optional<int>(0));
  }
}

TEST_F(ConsoleModeTest, MissingLogsFolderEndsTheCollectorAtOnce) {
  std::filesystem::remove_all(dir_ / "app/logs");
  auto collector = Start({});
  EXPECT_EQ(collector->WaitExit(2000), std::optional<int>(0));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "app/logs"));
}

}  // namespace
}  // namespace callsink
