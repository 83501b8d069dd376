#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "manager/collector_service_probe.h"
#include "manager/launch_result.h"
#include "manager/manager_model.h"
#include "manager/memory_status_list.h"
#include "manager/spawn_launcher.h"
#include "manager/system_rebooter.h"
#include "tests/manager/manager_fakes.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::TempDir;

TEST(LaunchResultTest, ReasonTableCoversTheKnownCodesAndCallsTheRestUnknown) {
  EXPECT_EQ(LaunchResult::Reason(0), "the operating system is out of memory or resources");
  EXPECT_EQ(LaunchResult::Reason(2), "the ACD service executable file is not found");
  EXPECT_EQ(LaunchResult::Reason(3), "the ACD service path is not found");
  EXPECT_EQ(LaunchResult::Reason(5), "the operating system denies access to the ACD service file");
  EXPECT_EQ(LaunchResult::Reason(8), "there is not enough memory to complete the operation");
  EXPECT_EQ(LaunchResult::Reason(11), "the ACD service executable file is invalid");
  EXPECT_EQ(LaunchResult::Reason(26), "a sharing violation occurred");
  EXPECT_EQ(LaunchResult::Reason(27),
            "the ACD service executable file name association is incomplete or invalid");
  EXPECT_EQ(LaunchResult::Reason(28),
            "the Dynamic Data Exchange transaction could not be completed because the request "
            "timed out");
  EXPECT_EQ(LaunchResult::Reason(29), "the Dynamic Data Exchange transaction failed");
  EXPECT_EQ(LaunchResult::Reason(30),
            "the Dynamic Data Exchange transaction could not be completed because other DDE "
            "transactions were being processed");
  EXPECT_EQ(LaunchResult::Reason(31),
            "there is no application associated with the given ACD service executable file name "
            "extension");
  for (int code : {1, 4, 12, 25, 32}) EXPECT_EQ(LaunchResult::Reason(code), "unknown") << code;
  EXPECT_FALSE(LaunchResult::Succeeded(32));
  EXPECT_TRUE(LaunchResult::Succeeded(33));
}

TEST(LaunchResultTest, ErrnoMapsOntoTheLaunchCodes) {
  EXPECT_EQ(LaunchResult::FromErrno(ENOENT), 2);
  EXPECT_EQ(LaunchResult::FromErrno(ENOTDIR), 3);
  EXPECT_EQ(LaunchResult::FromErrno(EACCES), 5);
  EXPECT_EQ(LaunchResult::FromErrno(ENOMEM), 8);
  EXPECT_EQ(LaunchResult::FromErrno(ENOEXEC), 11);
  EXPECT_EQ(LaunchResult::FromErrno(ETXTBSY), 26);
  EXPECT_EQ(LaunchResult::FromErrno(EAGAIN), 0);
  EXPECT_EQ(LaunchResult::FromErrno(EIO), 32);
}

// Real launches of files prepared in a temporary folder.
class SpawnLauncherTest : public ::testing::Test {
 protected:
  void MakeProgram(const std::string& content, mode_t mode) {
    TempDir::WriteFile(dir_ / "callsink", content);
    ASSERT_EQ(chmod((dir_ / "callsink").c_str(), mode), 0);
  }
  // A stand-in collector that notes its working folder and argument.
  void MakeRecordingProgram() {
    MakeProgram("#!/bin/sh\necho \"$(pwd) $1\" >> '" + log_ + "'\n", 0755);
  }
  // Waits up to 5 s for the stand-in to have noted `lines` lines.
  std::string LogAfter(size_t lines) {
    for (int i = 0; i < 500; ++i) {
      const std::string log = TempDir::ReadFile(log_);
      if (static_cast<size_t>(std::count(log.begin(), log.end(), '\n')) >= lines) return log;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return TempDir::ReadFile(log_);
  }
  std::string Folder() const { return dir_.path() + "/"; }

  TempDir dir_;
  TempDir log_dir_;
  const std::string log_ = log_dir_ / "launches";
  SpawnLauncher launcher_;
};

TEST_F(SpawnLauncherTest, StartsTheProgramInItsFolderWithTheOneArgument) {
  MakeRecordingProgram();
  EXPECT_EQ(launcher_.Launch(Folder(), "callsink", "-name=ACD Service"), LaunchResult::kStarted);
  EXPECT_EQ(LogAfter(1), dir_.path() + " -name=ACD Service\n");
}

TEST_F(SpawnLauncherTest, FailedLaunchesReportTheirReason) {
  EXPECT_EQ(launcher_.Launch(Folder(), "callsink", "-stop"), LaunchResult::kFileNotFound);
  EXPECT_EQ(launcher_.Launch(dir_ / "missing/", "callsink", "-stop"), LaunchResult::kFileNotFound);
  TempDir::WriteFile(dir_ / "plain", "");
  EXPECT_EQ(launcher_.Launch(dir_ / "plain/", "callsink", "-stop"), LaunchResult::kPathNotFound);

  MakeProgram("#!/bin/sh\nexit 0\n", 0644);
  EXPECT_EQ(launcher_.Launch(Folder(), "callsink", "-stop"), LaunchResult::kAccessDenied);

  MakeProgram(std::string("\x7f"
                          "ELF garbage",
                          11),
              0755);
  EXPECT_EQ(launcher_.Launch(Folder(), "callsink", "-stop"), LaunchResult::kInvalidExecutable);

  MakeRecordingProgram();
  const int writer = open((dir_ / "callsink").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(launcher_.Launch(Folder(), "callsink", "-stop"), LaunchResult::kSharingViolation);
  close(writer);
  EXPECT_EQ(TempDir::ReadFile(log_), "") << "nothing failed to start ran";
}

TEST_F(SpawnLauncherTest, ApplyLaunchesStopThenStartFromTheManagersFolder) {
  MakeRecordingProgram();
  MemoryStatusList list;
  test::RecordingTray tray;
  test::ScriptedMessageBox messages;
  test::ScriptedConfigDialog dialog;
  test::RecordingWindow window;
  test::FakeServiceProbe service;
  test::RecordingRebooter rebooter;
  std::chrono::milliseconds paused{0};
  CManagerModel model(log_dir_ / "registry.db", Folder(), {list, tray, messages, dialog, window},
                      {service, launcher_, rebooter, [&](std::chrono::milliseconds pause) {
                         paused = pause;
                         LogAfter(1);  // lets "-stop" note itself first
                       }});
  EXPECT_TRUE(model.OnApply());
  EXPECT_EQ(paused, std::chrono::milliseconds(4000));
  EXPECT_EQ(LogAfter(2), dir_.path() + " -stop\n" + dir_.path() + " -start\n");
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"Service restarted"}));

  std::remove((dir_ / "callsink").c_str());
  EXPECT_FALSE(model.OnApply());
  EXPECT_EQ(messages.shown.back(),
            "Apply failed ( Reason : the ACD service executable file is not found ), try to "
            "restart service manually");
}

TEST(CollectorServiceProbeTest, NoServiceRunningBelowAFreshRoot) {
  TempDir root;
  setenv("CALLSINK_ROOT", root.path().c_str(), 1);
  CollectorServiceProbe probe;
  EXPECT_FALSE(probe.IsServiceRunning());
  unsetenv("CALLSINK_ROOT");
}

// The real rebooter must never reach the real system from a test: PATH holds
// only a stand-in systemctl, and CALLSINK_ROOT is set as in every test.
TEST(SystemRebooterTest, RefusesWhileTheRootIsRelocatedWithoutRunningSystemctl) {
  TempDir bin;
  const std::string marker = bin / "called";
  TempDir::WriteFile(bin / "systemctl", "#!/bin/sh\necho \"$@\" > '" + marker + "'\n");
  ASSERT_EQ(chmod((bin / "systemctl").c_str(), 0755), 0);
  const std::string old_path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", bin.path().c_str(), 1);
  setenv("CALLSINK_ROOT", bin.path().c_str(), 1);

  SystemRebooter rebooter;
  EXPECT_FALSE(rebooter.RequestReboot());
  EXPECT_EQ(TempDir::ReadFile(marker), "");

  unsetenv("CALLSINK_ROOT");
  setenv("PATH", old_path.c_str(), 1);
}

}  // namespace
}  // namespace callsink
