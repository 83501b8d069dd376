#include "service/systemd_backend.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

#include "service/service.h"
#include "service/service_unit.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::TempDir;

// Records every systemctl call; answers with the exit codes and outputs a
// test sets per command (the first argument that is not an option).
class FakeSystemctl : public Systemctl {
 public:
  struct Call {
    std::vector<std::string> arguments;
    Errors errors;
  };

  int Run(const std::vector<std::string>& arguments, std::string* output, Errors errors) override {
    calls.push_back({arguments, errors});
    std::string command;
    for (const std::string& argument : arguments) {
      if (argument.rfind("--", 0) != 0) {
        command = argument;
        break;
      }
    }
    if (output != nullptr) *output = outputs[command];
    return exit_codes.count(command) != 0 ? exit_codes[command] : 0;
  }

  std::vector<Call> calls;
  std::map<std::string, int> exit_codes;
  std::map<std::string, std::string> outputs;
};

class SystemdBackendTest : public ::testing::Test {
 protected:
  SystemdBackendTest() {
    auto fake = std::make_unique<FakeSystemctl>();
    systemctl_ = fake.get();
    service_.SetBackend(std::make_unique<SystemdBackend>(
        unit_directory_, package_unit_directory_, std::move(fake), "/opt/callsink/callsink"));
  }

  std::vector<std::vector<std::string>> Invoked() {
    std::vector<std::vector<std::string>> commands;
    for (const auto& call : calls()) commands.push_back(call.arguments);
    return commands;
  }
  std::vector<FakeSystemctl::Call>& calls() { return systemctl_->calls; }
  void WriteUnit() {
    TempDir::MakeFolder(unit_directory_);
    TempDir::WriteFile(unit_path_, "unit\n");
  }
  void SetActiveState(const std::string& state) { systemctl_->outputs["show"] = state + "\n"; }

  TempDir dir_;
  const std::string unit_directory_ = dir_ / "etc/systemd/system";
  const std::string unit_path_ = unit_directory_ + "/acd-service.service";
  const std::string package_unit_directory_ = dir_ / "usr/lib/systemd/system";
  Service service_{"ACD Service", "ACD Service", "Collects ACD call and status statistics"};
  // Owned by the backend, which the service owns.
  FakeSystemctl* systemctl_ = nullptr;
};

using Commands = std::vector<std::vector<std::string>>;

TEST_F(SystemdBackendTest, InstallWritesTheUnitReloadsAndEnables) {
  ASSERT_TRUE(service_.Install());
  EXPECT_EQ(service_.last_error(), 0);
  EXPECT_EQ(TempDir::ReadFile(unit_path_),
            ServiceUnit::Text("ACD Service", "Collects ACD call and status statistics",
                              "/opt/callsink/callsink"));
  EXPECT_EQ(Invoked(), (Commands{{"daemon-reload"}, {"enable", "acd-service.service"}}));
}

TEST_F(SystemdBackendTest, SecondInstallChangesNothing) {
  ASSERT_TRUE(service_.Install());
  TempDir::WriteFile(unit_path_, "edited\n");
  calls().clear();
  EXPECT_FALSE(service_.Install());
  EXPECT_EQ(service_.last_error(), EEXIST);
  EXPECT_EQ(TempDir::ReadFile(unit_path_), "edited\n");
  EXPECT_TRUE(calls().empty());
}

TEST_F(SystemdBackendTest, InstallStopsAtTheFirstRefusal) {
  systemctl_->exit_codes["daemon-reload"] = 1;
  EXPECT_FALSE(service_.Install());
  EXPECT_EQ(Invoked(), (Commands{{"daemon-reload"}}));
}

TEST_F(SystemdBackendTest, UninstallStopsWithoutWaitingDisablesRemovesAndReloads) {
  WriteUnit();
  ASSERT_TRUE(service_.Uninstall());
  EXPECT_FALSE(ServiceUnit::Exists(unit_path_));
  EXPECT_EQ(Invoked(), (Commands{{"--no-block", "stop", "acd-service.service"},
                                 {"disable", "acd-service.service"},
                                 {"daemon-reload"}}));
}

TEST_F(SystemdBackendTest, UninstallOfAUnitSystemdNeverLoadedStillRemovesIt) {
  WriteUnit();
  systemctl_->exit_codes["stop"] = 5;
  EXPECT_TRUE(service_.Uninstall());
  EXPECT_FALSE(ServiceUnit::Exists(unit_path_));
}

TEST_F(SystemdBackendTest, UninstallKeepsTheUnitWhenTheStopIsRefused) {
  WriteUnit();
  systemctl_->exit_codes["stop"] = 1;
  EXPECT_FALSE(service_.Uninstall());
  EXPECT_TRUE(ServiceUnit::Exists(unit_path_));
  EXPECT_EQ(calls().size(), 1u);
}

TEST_F(SystemdBackendTest, WithoutUnitEveryOperationFailsQuietlyWithoutSystemctl) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Uninstall());
  EXPECT_EQ(service_.last_error(), ENOENT);
  EXPECT_FALSE(service_.Start());
  EXPECT_FALSE(service_.Stop());
  EXPECT_TRUE(service_.IsStopped());
  EXPECT_FALSE(service_.IsRunning());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(calls().empty());
}

TEST_F(SystemdBackendTest, PackagesUnitIsControlledButNeverRegisteredOverNorRemoved) {
  TempDir::MakeFolder(package_unit_directory_);
  const std::string packaged = package_unit_directory_ + "/acd-service.service";
  TempDir::WriteFile(packaged, "packaged\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Install());
  EXPECT_EQ(service_.last_error(), EEXIST);
  EXPECT_FALSE(service_.Uninstall());
  EXPECT_EQ(service_.last_error(), EPERM);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "The service comes with the callsink package (" + packaged +
                "): nothing to register.\n"
                "The service comes with the callsink package (" +
                packaged + "): remove the package to remove the service.\n");
  EXPECT_FALSE(ServiceUnit::Exists(unit_path_));
  EXPECT_EQ(TempDir::ReadFile(packaged), "packaged\n");
  EXPECT_TRUE(calls().empty());

  SetActiveState("active");
  EXPECT_TRUE(service_.Start());
  EXPECT_TRUE(service_.IsRunning());
  EXPECT_TRUE(service_.Stop());
  EXPECT_EQ(Invoked(),
            (Commands{{"start", "acd-service.service"},
                      {"show", "--property=ActiveState", "--value", "acd-service.service"},
                      {"--no-block", "stop", "acd-service.service"}}));

  // A unit the administrator registered comes first, as it does in systemd,
  // and goes again with "-unregister".
  WriteUnit();
  EXPECT_TRUE(service_.Uninstall());
  EXPECT_FALSE(ServiceUnit::Exists(unit_path_));
  EXPECT_EQ(TempDir::ReadFile(packaged), "packaged\n");
}

TEST_F(SystemdBackendTest, StartWaitsThroughSystemctlAndLetsItExplainAFailure) {
  WriteUnit();
  EXPECT_TRUE(service_.Start());
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls().at(0).arguments, (std::vector<std::string>{"start", "acd-service.service"}));
  EXPECT_EQ(calls().at(0).errors, Systemctl::Errors::kShown);

  systemctl_->exit_codes["start"] = 1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(service_.Start());
  // systemctl printed its own explanation; nothing is added, nothing kept.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(service_.last_error(), 0);
}

TEST_F(SystemdBackendTest, StopAsksWithoutWaiting) {
  WriteUnit();
  EXPECT_TRUE(service_.Stop());
  EXPECT_EQ(Invoked(), (Commands{{"--no-block", "stop", "acd-service.service"}}));
  EXPECT_EQ(calls().at(0).errors, Systemctl::Errors::kHidden);
}

TEST_F(SystemdBackendTest, StateComesFromActiveState) {
  WriteUnit();
  struct Row {
    const char* state;
    bool stopped;
    bool running;
  };
  for (const Row& row : {Row{"inactive", true, false}, Row{"failed", true, false},
                         Row{"activating", false, false}, Row{"active", false, true},
                         Row{"reloading", false, true}, Row{"deactivating", false, false}}) {
    SCOPED_TRACE(row.state);
    SetActiveState(row.state);
    EXPECT_EQ(service_.IsStopped(), row.stopped);
    EXPECT_EQ(service_.IsRunning(), row.running);
  }
  EXPECT_EQ(calls().back().arguments, (std::vector<std::string>{"show", "--property=ActiveState",
                                                                "--value", "acd-service.service"}));
}

TEST_F(SystemdBackendTest, UnreadableStateCountsAsStopped) {
  WriteUnit();
  SetActiveState("active");
  systemctl_->exit_codes["show"] = 1;
  EXPECT_TRUE(service_.IsStopped());
  EXPECT_FALSE(service_.IsRunning());
}

TEST_F(SystemdBackendTest, StartedAsServiceOnlyInTheProcessSystemdStarted) {
  const std::string own_pid = std::to_string(getpid());
  struct Row {
    const char* invocation;
    std::string exec_pid;
    bool expected;
  };
  for (const Row& row :
       {Row{"6f1c", own_pid, true}, Row{nullptr, own_pid, false}, Row{"", own_pid, false},
        Row{"6f1c", "1", false}, Row{"6f1c", own_pid + "x", false}, Row{"6f1c", "", false}}) {
    SCOPED_TRACE(row.exec_pid);
    if (row.invocation != nullptr) {
      setenv("INVOCATION_ID", row.invocation, 1);
    } else {
      unsetenv("INVOCATION_ID");
    }
    setenv("SYSTEMD_EXEC_PID", row.exec_pid.c_str(), 1);
    EXPECT_EQ(service_.StartedAsService(), row.expected);
  }
  unsetenv("INVOCATION_ID");
  unsetenv("SYSTEMD_EXEC_PID");
}

// The real Systemctl, against a stand-in "systemctl" script on PATH.
class SystemctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    const std::string script = dir_ / "systemctl";
    TempDir::WriteFile(script,
                       "#!/bin/sh\n"
                       "echo \"$*\" >> \"$(dirname \"$0\")/calls\"\n"
                       "echo \"out $1\"\n"
                       "echo \"complaint $1\" >&2\n"
                       "exit \"${FAKE_EXIT:-0}\"\n");
    chmod(script.c_str(), 0755);
    setenv("PATH", (dir_.path() + ":" + saved_path_).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    unsetenv("FAKE_EXIT");
  }

  TempDir dir_;
  std::string saved_path_;
  Systemctl systemctl_;
};

TEST_F(SystemctlTest, PassesArgumentsUnsplitAndCollectsOutput) {
  std::string output;
  EXPECT_EQ(systemctl_.Run({"show", "a b"}, &output, Systemctl::Errors::kHidden), 0);
  EXPECT_EQ(output, "out show\n");
  EXPECT_EQ(TempDir::ReadFile(dir_ / "calls"), "show a b\n");
}

TEST_F(SystemctlTest, ReturnsTheExitCodeAndShowsErrorsOnlyWhenAsked) {
  setenv("FAKE_EXIT", "5", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(systemctl_.Run({"stop"}, nullptr, Systemctl::Errors::kHidden), 5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(systemctl_.Run({"start"}, nullptr, Systemctl::Errors::kShown), 5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "complaint start\n");
}

TEST_F(SystemctlTest, MissingSystemctlIsAnErrorWithErrno) {
  setenv("PATH", (dir_ / "nowhere").c_str(), 1);
  errno = 0;
  EXPECT_EQ(systemctl_.Run({"show"}, nullptr, Systemctl::Errors::kHidden), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace callsink
