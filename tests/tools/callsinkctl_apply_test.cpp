// Apply for real: callsinkctl restarts a running collector service through
// the standalone backend below a temporary CALLSINK_ROOT, and the new run
// starts the workers of the configurations written just before.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/service/service_process.h"
#include "tests/support/child_process.h"
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
  EXPECT_EQ(Ctl({"status"}).out, "ACD Service: running\n");

  ASSERT_EQ(Ctl({"add", "--server", "10.0.0.5"}).exit_code, 0);
  ASSERT_EQ(Ctl({"add", "--server", "10.0.0.6", "--port", "4661"}).exit_code, 0);
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
    return new_run.find("Starting thread for server: 10.0.0.5") != std::string::npos &&
           new_run.find("Starting thread for server: 10.0.0.6") != std::string::npos;
  })) << CommonLog().substr(before);

  const ProgramRun list = Ctl({"list"});
  EXPECT_EQ(list.exit_code, 0);
  EXPECT_EQ(list.out.find("Service stopped"), std::string::npos) << list.out;
  EXPECT_EQ(Ctl({"status"}).out.rfind("ACD Service: running\n", 0), 0u);
}

}  // namespace
}  // namespace callsink
