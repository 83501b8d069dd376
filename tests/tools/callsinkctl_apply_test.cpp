// Apply for real: callsinkctl restarts a running collector service through
// the standalone backend below a temporary CALLSINK_ROOT, and the new run
// starts the workers of the configurations written just before.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "config/metrics_endpoint_setting.h"
#include "platform/registry.h"
#include "tests/service/service_process.h"
#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/program_run.h"

namespace callsink {
namespace {

using test::ChildProcess;
using test::ProgramRun;
using test::ServiceProcess;
using test::TempDir;
using test::WaitUntil;

// The two programs installed side by side in a folder of their own, so that
// the collector's logs land in that folder's "logs".
class CallsinkctlApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TempDir::MakeFolder(dir_ / "app/logs");
    TempDir::MakeFolder(root_ + "/dev");
    for (const char* program : {"callsink", "callsinkctl"}) {
      std::filesystem::copy_file(ProgramRun::PathOf(program),
                                 dir_ / ("app/" + std::string(program)));
    }
  }
  void TearDown() override { ServiceProcess::Kill(ServicePid()); }

  ProgramRun Ctl(const std::vector<std::string>& args) {
    return ProgramRun::Run(dir_ / "app/callsinkctl", args, {{"CALLSINK_ROOT", root_}});
  }
  int Collector(const std::string& option) {
    ChildProcess process(dir_ / "app/callsink", {option}, {"CALLSINK_ROOT=" + root_}, dir_.path());
    return process.WaitExit(60000).value_or(-1);
  }
  pid_t ServicePid() const { return ServiceProcess::LockHolder(root_ + "/run/acd-service.pid"); }
  std::string CommonLog() const { return TempDir::ReadFile(dir_ / "app/logs/acd_common.log"); }
  void SetMetricsEndpoint(const std::string& value) {
    Registry registry(root_ + "/var/lib/callsink/registry.db");
    ASSERT_TRUE(registry.Open(Registry::OpenMode::kCreate)) << registry.error();
    ASSERT_TRUE(registry.CreateKey(MetricsEndpointSetting::kKey));
    ASSERT_TRUE(
        registry.SetValue(MetricsEndpointSetting::kKey, MetricsEndpointSetting::kValue, value));
  }

  TempDir dir_;
  const std::string root_ = dir_ / "root";
};

TEST_F(CallsinkctlApplyTest, ApplyRestartsTheServiceWhichStartsTheNewConfigurations) {
  ASSERT_EQ(Collector("-register"), 0);
  ASSERT_EQ(Collector("-start"), 0);
  const pid_t first = ServicePid();
  ASSERT_GT(first, 0) << "the service did not start";
  ASSERT_TRUE(WaitUntil(
      5000, [&] { return CommonLog().find("Waiting for close event") != std::string::npos; }));
  EXPECT_EQ(Ctl({"status"}).out,
            "ACD Service: running\n\nHealth: none, there is no configuration store\n");

  // The metrics endpoint's value lies outside the layout that every change
  // of the configurations rewrites.
  const int metrics_port = test::FreePort();
  const std::string endpoint = "127.0.0.1:" + std::to_string(metrics_port);
  SetMetricsEndpoint(endpoint);
  ASSERT_EQ(Ctl({"add", "--server", "127.0.0.5"}).exit_code, 0);
  ASSERT_EQ(Ctl({"add", "--server", "127.0.0.6", "--port", "4661"}).exit_code, 0);
  const size_t before = CommonLog().size();

  const auto start = std::chrono::steady_clock::now();
  const ProgramRun apply = Ctl({"apply"});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_EQ(apply.exit_code, 0) << apply.err;
  EXPECT_EQ(apply.out, "Service restarted\n");

  EXPECT_TRUE(WaitUntil(10000, [&] { return ServicePid() > 0 && ServicePid() != first; }))
      << "no new service run";
  EXPECT_TRUE(ServiceProcess::Gone(first));
  ASSERT_TRUE(WaitUntil(10000, [&] {
    const std::string new_run = CommonLog().substr(before);
    return new_run.find("Starting thread for server: 127.0.0.5") != std::string::npos &&
           new_run.find("Starting thread for server: 127.0.0.6") != std::string::npos;
  })) << CommonLog().substr(before);

  const ProgramRun list = Ctl({"list"});
  EXPECT_EQ(list.exit_code, 0);
  EXPECT_EQ(list.out.find("Service stopped"), std::string::npos) << list.out;
  // The new run serves the figures of both configurations, which status
  // shows after the lines it always showed. Neither reaches its ACD server
  // (nothing listens there) nor its database ("localhost" without a
  // server), so nothing was received, journaled or written.
  const std::string status = Ctl({"status"}).out;
  EXPECT_EQ(status.rfind("ACD Service: running\n1\t127.0.0.5\t", 0), 0u) << status;
  const std::string health = "\nHealth from http://" + endpoint + "/metrics:\n";
  ASSERT_NE(status.find(health), std::string::npos) << status;
  EXPECT_EQ(status.substr(status.find(health) + health.size()),
            "1\t127.0.0.5\tN-N, no message yet, 0 events/min, 0 rows written, journal 0 entries "
            "(0 B) behind, lag 0 s\n"
            "2\t127.0.0.6\tN-N, no message yet, 0 events/min, 0 rows written, journal 0 entries "
            "(0 B) behind, lag 0 s\n");

  SetMetricsEndpoint("off");
  EXPECT_NE(
      Ctl({"status"})
          .out.find("\nHealth: none, the metrics endpoint is switched off (Endpoint = \"off\")\n"),
      std::string::npos);
  SetMetricsEndpoint("127.0.0.1:" + std::to_string(test::FreePort()));
  EXPECT_NE(Ctl({"status"}).out.find("\nHealth: none, no answer from http://127.0.0.1:"),
            std::string::npos);
}

}  // namespace
}  // namespace callsink
