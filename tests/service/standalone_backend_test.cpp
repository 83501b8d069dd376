// The standalone backend against real processes: the stand-in service takes
// and releases the lock exactly as the collector does.
#include "service/standalone_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "platform/system_paths.h"
#include "service/service.h"
#include "service/service_unit.h"
#include "tests/service/service_process.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::ChildProcess;
using test::ServiceProcess;
using test::TempDir;
using test::WaitUntil;

constexpr const char* kStandIn = SERVICE_STAND_IN;

class StandaloneBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("CALLSINK_ROOT", root_.path().c_str(), 1);
    UseExecutable(kStandIn);
  }
  void TearDown() override {
    // A launched service is nobody's child: it ends by the PID its lock names.
    ServiceProcess::Kill(ServiceProcess::LockHolder(pid_file_));
    unsetenv("CALLSINK_ROOT");
  }

  void UseExecutable(const std::string& executable) {
    service_.SetBackend(std::make_unique<StandaloneBackend>(
        SystemPaths::UnitDirectory(), SystemPaths::PackageUnitDirectory(),
        SystemPaths::RunDirectory(), executable));
  }
  // The stand-in started directly by the test, holding the lock once ready.
  std::unique_ptr<ChildProcess> Hold(const std::vector<std::string>& env = {}) {
    const std::string output = root_ / ("hold" + std::to_string(++holders_));
    auto holder = std::make_unique<ChildProcess>(kStandIn, std::vector<std::string>{"--hold"}, env,
                                                 std::string(), output);
    EXPECT_TRUE(WaitUntil(
        5000, [&] { return TempDir::ReadFile(output) == "ready\n" || !holder->Running(); }));
    return holder;
  }

  TempDir root_;
  const std::string unit_path_ = root_ / "etc/systemd/system/acd-service.service";
  const std::string pid_file_ = root_ / "run/acd-service.pid";
  Service service_{"ACD Service", "ACD Service", "Collects ACD call and status statistics"};
  int holders_ = 0;
};

TEST_F(StandaloneBackendTest, ProgramPathSystemdCannotRunIsNeverInstalled) {
  UseExecutable(root_ / "it's/callsink");
  EXPECT_FALSE(service_.Install());
  EXPECT_EQ(service_.last_error(), EINVAL);
  EXPECT_FALSE(std::filesystem::exists(unit_path_));
}

TEST_F(StandaloneBackendTest, NothingHappensWhileTheServiceIsNotInstalled) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Start());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(service_.last_error(), ENOENT);
  EXPECT_FALSE(service_.Stop());
  EXPECT_FALSE(service_.Uninstall());
  EXPECT_TRUE(service_.IsStopped());
  EXPECT_FALSE(service_.IsRunning());
  EXPECT_FALSE(std::filesystem::exists(pid_file_));
}

TEST_F(StandaloneBackendTest, StartLaunchesADetachedServiceThatHoldsTheLock) {
  ASSERT_TRUE(service_.Install());
  ASSERT_TRUE(service_.Start());
  EXPECT_EQ(service_.last_error(), 0);
  EXPECT_TRUE(service_.IsRunning());
  EXPECT_FALSE(service_.IsStopped());

  const pid_t pid = ServiceProcess::LockHolder(pid_file_);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(TempDir::ReadFile(pid_file_), std::to_string(pid) + "\n");
  // Its own session, not as leader; not our child; nothing of ours open.
  EXPECT_NE(getsid(pid), getsid(0));
  EXPECT_NE(getsid(pid), pid);
  EXPECT_NE(ServiceProcess::ParentOf(pid), getpid());
  for (const char* fd : {"fd/0", "fd/1", "fd/2"}) {
    EXPECT_EQ(ServiceProcess::ProcLink(pid, fd), "/dev/null") << fd;
  }
  EXPECT_EQ(ServiceProcess::ProcLink(pid, "cwd"), "/");
  const std::string environment = TempDir::ReadFile("/proc/" + std::to_string(pid) + "/environ");
  EXPECT_NE(environment.find(std::string("CALLSINK_SERVICE_LAUNCH=") + root_.path() +
                             "/etc/systemd/system"),
            std::string::npos);

  ASSERT_TRUE(service_.Stop());
  EXPECT_TRUE(WaitUntil(5000, [&] { return service_.IsStopped(); }));
  EXPECT_TRUE(WaitUntil(5000, [&] { return ServiceProcess::Gone(pid); }));
  // The stand-in stopped through Service::Shutdown: the file is emptied.
  EXPECT_EQ(TempDir::ReadFile(pid_file_), "");
  EXPECT_FALSE(service_.IsRunning());
}

TEST_F(StandaloneBackendTest, StartWhileRunningShowsTheSystemTextAndLaunchesNothing) {
  ASSERT_TRUE(service_.Install());
  auto holder = Hold();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Start());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(strerror(EALREADY)) + "\n");
  EXPECT_EQ(service_.last_error(), 0);
  EXPECT_EQ(ServiceProcess::LockHolder(pid_file_), holder->pid());
}

TEST_F(StandaloneBackendTest, StartOfAMissingProgramShowsTheSystemText) {
  UseExecutable(root_ / "no/such/callsink");
  ASSERT_TRUE(service_.Install());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Start());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(strerror(ENOENT)) + "\n");
  EXPECT_EQ(service_.last_error(), 0);
}

TEST_F(StandaloneBackendTest, StartRunsTheInstalledProgramNotItself) {
  ASSERT_TRUE(service_.Install());
  UseExecutable(root_ / "some/other/copy");
  ASSERT_TRUE(service_.Start());
  const pid_t pid = ServiceProcess::LockHolder(pid_file_);
  EXPECT_EQ(ServiceProcess::ProcLink(pid, "exe"), kStandIn);
}

TEST_F(StandaloneBackendTest, StartWithAUnitNamingNoProgramShowsTheSystemText) {
  TempDir::MakeFolder(root_ / "etc/systemd/system");
  TempDir::WriteFile(unit_path_, "[Service]\nExecStart=\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Start());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(strerror(ENOEXEC)) + "\n");
}

TEST_F(StandaloneBackendTest, StartOfAProgramThatEndsAtOnceFails) {
  UseExecutable("/bin/true");
  ASSERT_TRUE(service_.Install());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Start());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(strerror(ESRCH)) + "\n");
  EXPECT_TRUE(service_.IsStopped());
}

TEST_F(StandaloneBackendTest, StopSignalsTheLockHolderWhateverPidTheFileNames) {
  ASSERT_TRUE(service_.Install());
  ChildProcess bystander("/bin/sleep", {"30"});
  auto holder = Hold();
  // Someone overwrote the file; the lock still names the real service.
  TempDir::WriteFile(pid_file_, std::to_string(bystander.pid()) + "\n");
  ASSERT_TRUE(service_.Stop());
  EXPECT_EQ(holder->WaitExit(5000), std::optional<int>(0));
  EXPECT_FALSE(bystander.WaitExit(300).has_value()) << "the bystander was signalled";
}

TEST_F(StandaloneBackendTest, OnlyOneProcessCanHoldTheLock) {
  auto first = Hold();
  ASSERT_TRUE(first->Running());
  auto second = Hold();
  EXPECT_EQ(second->WaitExit(5000), std::optional<int>(4));
  EXPECT_EQ(ServiceProcess::LockHolder(pid_file_), first->pid());
}

TEST_F(StandaloneBackendTest, OnlyALaunchForThisInstallationCountsAsStartedAsService) {
  EXPECT_FALSE(service_.StartedAsService());
  setenv(StandaloneBackend::kLaunchMarker, (root_ / "etc/systemd/system").c_str(), 1);
  EXPECT_TRUE(service_.StartedAsService());
  setenv(StandaloneBackend::kLaunchMarker, "/etc/systemd/system", 1);
  EXPECT_FALSE(service_.StartedAsService());
  unsetenv(StandaloneBackend::kLaunchMarker);
}

TEST_F(StandaloneBackendTest, LockHeldInThisProcessIsSeenWithoutLosingIt) {
  ASSERT_TRUE(service_.Install());
  StandaloneBackend own(SystemPaths::UnitDirectory(), SystemPaths::PackageUnitDirectory(),
                        SystemPaths::RunDirectory(), kStandIn);
  ASSERT_TRUE(own.OnServiceStart(service_));
  EXPECT_TRUE(own.IsRunning(service_));
  EXPECT_FALSE(own.IsStopped(service_));
  // Those questions kept the lock: another process still cannot take it.
  auto other = Hold();
  EXPECT_EQ(other->WaitExit(5000), std::optional<int>(4));
  own.OnServiceStop(service_);
  EXPECT_EQ(TempDir::ReadFile(pid_file_), "");
}

}  // namespace
}  // namespace callsink
