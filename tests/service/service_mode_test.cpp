// The collector binary as an administrator drives it: the four options
// against the standalone backend below CALLSINK_ROOT, and the service they
// start, with its records read from a private syslog socket.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "tests/service/service_process.h"
#include "tests/support/child_process.h"
#include "tests/support/syslog_sink.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using std::chrono::milliseconds;
using test::ChildProcess;
using test::ServiceProcess;
using test::SyslogSink;
using test::TempDir;
using test::WaitUntil;

constexpr const char* kStandIn = SERVICE_STAND_IN;

struct OptionRun {
  int exit_code = -1;
  milliseconds duration{0};
  std::string output;  // stdout and stderr
};

class ServiceModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TempDir::MakeFolder(dir_ / "app/logs");
    TempDir::MakeFolder(root_ + "/dev");
    const char* bin = std::getenv("CALLSINK_BIN");
    ASSERT_NE(bin, nullptr);
    std::filesystem::copy_file(std::string(bin) + "/callsink", program_);
  }
  void TearDown() override { ServiceProcess::Kill(ServiceProcess::LockHolder(pid_file_)); }

  // Runs the collector with `option` to its end, from another folder.
  OptionRun Run(const std::string& option, const std::string& program = {}) {
    const std::string output = dir_ / "option.out";
    const auto begin = std::chrono::steady_clock::now();
    ChildProcess process(program.empty() ? program_ : program, {option}, Environment(), dir_.path(),
                         output);
    OptionRun run;
    run.exit_code = process.WaitExit(60000).value_or(-1);
    run.duration =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - begin);
    run.output = TempDir::ReadFile(output);
    return run;
  }
  std::vector<std::string> Environment() const { return {"CALLSINK_ROOT=" + root_}; }

  // The stand-in service, holding the lock as the collector does.
  std::unique_ptr<ChildProcess> StandIn(const std::string& behaviour) {
    const std::string output = dir_ / "stand_in.out";
    std::vector<std::string> env = Environment();
    env.push_back(behaviour);
    auto process = std::make_unique<ChildProcess>(kStandIn, std::vector<std::string>{"--hold"}, env,
                                                  std::string(), output);
    EXPECT_TRUE(WaitUntil(5000, [&] { return TempDir::ReadFile(output) == "ready\n"; }));
    return process;
  }

  pid_t ServicePid() const { return ServiceProcess::LockHolder(pid_file_); }
  std::string CommonLog() const { return TempDir::ReadFile(dir_ / "app/logs/acd_common.log"); }
  bool Logged(const std::string& text) {
    return WaitUntil(5000, [&] { return CommonLog().find(text) != std::string::npos; });
  }
  void StartService() {
    ASSERT_EQ(Run("-register").exit_code, 0);
    const OptionRun start = Run("-start");
    ASSERT_EQ(start.exit_code, 0);
    EXPECT_EQ(start.output, "");
    ASSERT_GT(ServicePid(), 0) << "-start returned before the service ran";
    ASSERT_TRUE(Logged("Waiting for close event"));
  }

  TempDir dir_;
  const std::string program_ = dir_ / "app/callsink";
  const std::string root_ = dir_ / "root";
  const std::string unit_path_ = root_ + "/etc/systemd/system/acd-service.service";
  const std::string pid_file_ = root_ + "/run/acd-service.pid";
};

TEST_F(ServiceModeTest, RegisterTwiceWritesTheUnitOnceAndExitsZeroBothTimes) {
  const OptionRun first = Run("-register");
  EXPECT_EQ(first.exit_code, 0);
  EXPECT_EQ(first.output, "");
  const std::string text = TempDir::ReadFile(unit_path_);
  EXPECT_NE(text.find("ExecStart=\"" + program_ + "\" \"-name=ACD Service\"\n"), std::string::npos)
      << text;
  struct stat before {};
  ASSERT_EQ(stat(unit_path_.c_str(), &before), 0);

  const OptionRun second = Run("-r");
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(second.output, "");
  struct stat after {};
  ASSERT_EQ(stat(unit_path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(TempDir::ReadFile(unit_path_), text);
}

TEST_F(ServiceModeTest, GeneratedUnitPassesSystemdVerifyAndBothSandboxesRateAtMostThree) {
  const char* analyze = "/usr/bin/systemd-analyze";
  if (access(analyze, X_OK) != 0) {
    if (std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true") {
      FAIL() << "systemd-analyze is missing (package systemd)";
    }
    GTEST_SKIP() << "systemd-analyze is missing (package systemd); unit not verified";
  }
  // A folder name with a blank and a specifier character tests the quoting.
  const std::string folder = dir_ / "odd app%1";
  TempDir::MakeFolder(folder + "/logs");
  std::filesystem::copy_file(program_, folder + "/callsink");
  ASSERT_EQ(Run("-register", folder + "/callsink").exit_code, 0);

  const std::string output = dir_ / "verify.out";
  // The manual page the unit names comes with the package, not with a build.
  ChildProcess verify(analyze, {"verify", "--man=no", unit_path_}, {}, dir_.path(), output);
  EXPECT_EQ(verify.WaitExit(30000), std::optional<int>(0));
  EXPECT_EQ(TempDir::ReadFile(output), "");

  // The unit "-register" wrote, and the one the package ships; --threshold
  // counts tenths.
  for (const std::string& unit : {unit_path_, std::string(CALLSINK_SHIPPED_UNIT)}) {
    ChildProcess security(analyze, {"security", "--offline=yes", "--threshold=30", unit}, {},
                          dir_.path(), output);
    EXPECT_EQ(security.WaitExit(30000), std::optional<int>(0)) << TempDir::ReadFile(output);
  }
}

TEST_F(ServiceModeTest, StartOfAServiceNotInstalledDoesNothing) {
  const OptionRun start = Run("-start");
  EXPECT_EQ(start.exit_code, 0);
  EXPECT_EQ(start.output, "");
  EXPECT_EQ(ServicePid(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "app/logs/acd_common.log"));
}

TEST_F(ServiceModeTest, StartRunsTheServiceAndStopEndsItWithinAPoll) {
  SyslogSink sink(root_ + "/dev/log");
  ASSERT_TRUE(sink.ok());
  StartService();
  const pid_t pid = ServicePid();
  EXPECT_EQ(TempDir::ReadFile(pid_file_), std::to_string(pid) + "\n");
  const std::string source = "ACD Service[" + std::to_string(pid) + "]: ";
  EXPECT_TRUE(sink.WaitFor(source + "ACD Service is running.", 5000));
  EXPECT_EQ(sink.Records().at(0).substr(0, 4), "<29>");

  // A second start finds it running and says so, as the system words it.
  const OptionRun again = Run("-st");
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.output, std::string(strerror(EALREADY)) + "\n");
  EXPECT_EQ(ServicePid(), pid);

  const OptionRun stop = Run("-stop");
  EXPECT_EQ(stop.exit_code, 0);
  EXPECT_EQ(stop.output, "");
  EXPECT_TRUE(WaitUntil(1000, [&] { return ServiceProcess::Gone(pid); }));
  EXPECT_EQ(ServicePid(), 0);
  // The service ends in milliseconds; "-stop" notices at its first poll at
  // the latest (or at once, when the service was quicker than the check).
  EXPECT_LT(stop.duration, milliseconds(800));
  EXPECT_NE(CommonLog().find("Exitting run function"), std::string::npos);
  EXPECT_TRUE(sink.WaitFor(source + "ACD Service sucessfully stopped.", 5000));
  EXPECT_EQ(sink.Records().back().substr(0, 4), "<29>");
}

TEST_F(ServiceModeTest, StopReturnsWithinAPollAfterASlowServiceStopped) {
  ASSERT_EQ(Run("-register").exit_code, 0);
  auto service = StandIn("CALLSINK_TEST_STOP_DELAY_MS=1000");
  const OptionRun stop = Run("-sp");
  EXPECT_EQ(stop.exit_code, 0);
  EXPECT_EQ(service->WaitExit(2000), std::optional<int>(0));
  EXPECT_GE(stop.duration, milliseconds(1000));
  EXPECT_LT(stop.duration, milliseconds(1000 + 200 + 400));
}

TEST_F(ServiceModeTest, StopWithoutARunningServiceReturnsAtOnce) {
  for (bool installed : {false, true}) {
    SCOPED_TRACE(installed);
    if (installed) {
      ASSERT_EQ(Run("-register").exit_code, 0);
    }
    const OptionRun stop = Run("-stop");
    EXPECT_EQ(stop.exit_code, 0);
    EXPECT_EQ(stop.output, "");
    EXPECT_LT(stop.duration, milliseconds(200)) << "-stop slept";
  }
}

TEST_F(ServiceModeTest, StalePidFileNeverMakesStopSignalAnotherProcess) {
  ASSERT_EQ(Run("-register").exit_code, 0);
  ChildProcess bystander("/bin/sleep", {"30"});
  TempDir::MakeFolder(root_ + "/run");
  TempDir::WriteFile(pid_file_, std::to_string(bystander.pid()) + "\n");
  const OptionRun stop = Run("-stop");
  EXPECT_EQ(stop.exit_code, 0);
  EXPECT_LT(stop.duration, milliseconds(200));
  EXPECT_FALSE(bystander.WaitExit(300).has_value()) << "the bystander was signalled";
}

TEST_F(ServiceModeTest, ServiceIgnoringTheStopReleasesStopAfter150Polls) {
  ASSERT_EQ(Run("-register").exit_code, 0);
  auto service = StandIn("CALLSINK_TEST_IGNORE_SIGTERM=1");
  const OptionRun stop = Run("-stop");
  EXPECT_EQ(stop.exit_code, 0);
  EXPECT_GE(stop.duration, milliseconds(150 * 200));
  EXPECT_LT(stop.duration, milliseconds(150 * 200 + 5000));
  EXPECT_TRUE(service->Running());
}

TEST_F(ServiceModeTest, UnregisterStopsTheServiceAndRemovesTheUnit) {
  StartService();
  const pid_t pid = ServicePid();
  const OptionRun unregister = Run("-unregister");
  EXPECT_EQ(unregister.exit_code, 0);
  EXPECT_EQ(unregister.output, "");
  EXPECT_FALSE(std::filesystem::exists(unit_path_));
  EXPECT_TRUE(WaitUntil(5000, [&] { return ServiceProcess::Gone(pid); }));
  EXPECT_TRUE(Logged("Exitting run function"));
  // Gone for good: nothing left to start or remove.
  EXPECT_EQ(Run("-start").output, "");
  EXPECT_EQ(ServicePid(), 0);
  EXPECT_EQ(Run("-u").exit_code, 0);
}

TEST_F(ServiceModeTest, PackagesUnitRunsTheServiceAndTheRegistrationOptionsSaySo) {
  // The package's unit, for the collector where this test keeps it.
  const std::string packaged = root_ + "/usr/lib/systemd/system/acd-service.service";
  ASSERT_EQ(Run("-register").exit_code, 0);
  TempDir::MakeFolder(root_ + "/usr/lib/systemd/system");
  std::filesystem::rename(unit_path_, packaged);
  const std::string text = TempDir::ReadFile(packaged);

  const OptionRun reg = Run("-register");
  EXPECT_EQ(reg.exit_code, 0);
  EXPECT_EQ(reg.output, "The service comes with the callsink package (" + packaged +
                            "): nothing to register.\n");
  EXPECT_FALSE(std::filesystem::exists(unit_path_));

  const OptionRun start = Run("-start");
  EXPECT_EQ(start.exit_code, 0);
  EXPECT_EQ(start.output, "");
  ASSERT_GT(ServicePid(), 0);
  const pid_t pid = ServicePid();
  ASSERT_TRUE(Logged("Waiting for close event"));

  const OptionRun unregister = Run("-u");
  EXPECT_EQ(unregister.exit_code, 0);
  EXPECT_EQ(unregister.output, "The service comes with the callsink package (" + packaged +
                                   "): remove the package to remove the service.\n");
  EXPECT_EQ(TempDir::ReadFile(packaged), text);
  EXPECT_EQ(ServicePid(), pid) << "-unregister stopped the package's service";

  EXPECT_EQ(Run("-stop").exit_code, 0);
  EXPECT_TRUE(WaitUntil(5000, [&] { return ServiceProcess::Gone(pid); }));
}

TEST_F(ServiceModeTest, OptionsWithATrailingBlankRunTheConsole) {
  for (const char* option : {"-start ", "-stop ", "-u "}) {
    SCOPED_TRACE(option);
    std::filesystem::remove(dir_ / "app/logs/acd_common.log");
    ChildProcess collector(program_, {option}, Environment(), dir_.path());
    ASSERT_TRUE(Logged("Waiting for close event"));
    collector.Signal(SIGHUP);
    EXPECT_EQ(collector.WaitExit(5000), std::optional<int>(0));
  }
  EXPECT_FALSE(std::filesystem::exists(root_ + "/etc/systemd/system"));
  EXPECT_EQ(ServicePid(), 0);
}

TEST_F(ServiceModeTest, UserSignalsWriteTheirRecordsAndUser1ReturnsToTheProgramFolder) {
  SyslogSink sink(root_ + "/dev/log");
  ASSERT_TRUE(sink.ok());
  StartService();
  const pid_t pid = ServicePid();
  const std::string source = "ACD Service[" + std::to_string(pid) + "]: ";
  EXPECT_EQ(ServiceProcess::ProcLink(pid, "cwd"), dir_ / "app");

  // Moved elsewhere, the program's folder is a new one.
  TempDir::MakeFolder(dir_ / "moved/logs");
  std::filesystem::rename(program_, dir_ / "moved/callsink");
  ASSERT_EQ(kill(pid, SIGUSR2), 0);
  EXPECT_TRUE(
      sink.WaitFor(source + "Info from ACD Service (SERVICE_CONTROL_USER2 received).", 5000));
  EXPECT_EQ(ServiceProcess::ProcLink(pid, "cwd"), dir_ / "app");
  ASSERT_EQ(kill(pid, SIGUSR1), 0);
  EXPECT_TRUE(
      sink.WaitFor(source + "Info from ACD Service (SERVICE_CONTROL_USER1 received).", 5000));
  EXPECT_TRUE(
      WaitUntil(5000, [&] { return ServiceProcess::ProcLink(pid, "cwd") == dir_ / "moved"; }));
  for (const std::string& record : sink.Records()) {
    if (record.find("SERVICE_CONTROL_USER") != std::string::npos) {
      EXPECT_EQ(record.substr(0, 4), "<30>") << record;
    }
  }
  EXPECT_EQ(sink.Count("SERVICE_CONTROL_USER"), 2);
  EXPECT_EQ(ServicePid(), pid) << "the user codes must not stop the service";

  EXPECT_EQ(Run("-stop", dir_ / "moved/callsink").exit_code, 0);
  EXPECT_TRUE(WaitUntil(5000, [&] { return ServiceProcess::Gone(pid); }));
}

TEST_F(ServiceModeTest, ServiceProcessExitsWithOneAfterTheDispatcherRan) {
  ASSERT_EQ(Run("-register").exit_code, 0);
  std::vector<std::string> env = Environment();
  env.push_back("CALLSINK_SERVICE_LAUNCH=" + root_ + "/etc/systemd/system");
  ChildProcess service(program_, {"-name=ACD", "Service"}, env, dir_.path());
  ASSERT_TRUE(WaitUntil(5000, [&] { return ServicePid() == service.pid(); }));
  ASSERT_TRUE(Logged("Waiting for close event"));
  service.Signal(SIGTERM);
  EXPECT_EQ(service.WaitExit(5000), std::optional<int>(1));
  EXPECT_TRUE(Logged("Exitting run function"));
}

}  // namespace
}  // namespace callsink
