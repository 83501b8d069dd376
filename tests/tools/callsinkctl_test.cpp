#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "config/database_tls_setting.h"
#include "manager/config_store.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/program_run.h"

namespace callsink {
namespace {

using test::ProgramRun;
using test::TempDir;

const std::string kSecret = "s3cr3t-Pa55";

// Runs the real callsinkctl against a registry below a temporary
// CALLSINK_ROOT, with standard input that is not a terminal.
class CallsinkctlTest : public ::testing::Test {
 protected:
  ProgramRun Ctl(const std::vector<std::string>& args, const std::string& input = "") {
    ProgramRun run = ProgramRun::Run(program_, args, {{"CALLSINK_ROOT", root_.path()}}, input);
    EXPECT_EQ(run.out.find(kSecret), std::string::npos) << "password printed";
    EXPECT_EQ(run.err.find(kSecret), std::string::npos) << "password printed";
    return run;
  }
  std::string Value(int number, const char* name) {
    Registry registry(root_ / "var/lib/callsink/registry.db");
    std::string data;
    if (!registry.Open(Registry::OpenMode::kExisting)) return "<no registry>";
    registry.QueryValue(number == 0 ? ConfigLayout::kConfigsKey : ConfigLayout::ConfigKey(number),
                        name, &data);
    return data;
  }
  void ExpectUsageError(const std::vector<std::string>& args, const std::string& message,
                        const std::string& input = "") {
    const ProgramRun run = Ctl(args, input);
    EXPECT_EQ(run.exit_code, 2) << testing::PrintToString(args) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos)
        << testing::PrintToString(args) << ": " << run.err;
    EXPECT_EQ(run.out, "");
  }

  TempDir root_;
  std::string program_ = "callsinkctl";
};

TEST_F(CallsinkctlTest, AddListEditRemoveKeepTheRegistryAndListInStep) {
  ProgramRun run = Ctl({"add", "--server", "10.0.0.5"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "added configuration 1: ACD (10.0.0.5 : 4660) -> MYSQL (localhost : 3306 )\n");
  run = Ctl({"add", "--server=10.0.0.6", "--port", "4661", "--mysql-server", "db1", "--user", "acd",
             "--password-stdin"},
            kSecret + "\n");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(Value(0, "ConfigCount"), "2");
  EXPECT_EQ(Value(1, "MYSQL_User"), "root");
  EXPECT_EQ(Value(1, "MYSQL_Password"), "");
  EXPECT_EQ(Value(2, "MYSQL_Password"), kSecret);
  EXPECT_EQ(Value(2, "Status"), "N-N");

  run = Ctl({"list"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out,
            "1\tACD (10.0.0.5 : 4660) -> MYSQL (localhost : 3306 )\tService stopped\n"
            "2\tACD (10.0.0.6 : 4661) -> MYSQL (db1 : 3306 )\tService stopped\n");
  run = Ctl({"status"});
  EXPECT_EQ(run.out,
            "ACD Service: not running\n1\t10.0.0.5\tService stopped\n2\t10.0.0.6\tService "
            "stopped\n\nHealth: none, the collector is not running\n");

  // Edit changes what is given and keeps the rest, the password and Status included.
  {
    Registry registry(root_ / "var/lib/callsink/registry.db");
    ASSERT_TRUE(registry.Open(Registry::OpenMode::kExisting));
    ASSERT_TRUE(registry.SetValue(ConfigLayout::ConfigKey(2), "Status", "Y-Y"));
  }
  run = Ctl({"edit", "2", "--port", "5000"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "changed configuration 2: ACD (10.0.0.6 : 5000) -> MYSQL (db1 : 3306 )\n");
  EXPECT_EQ(Value(2, "MYSQL_Password"), kSecret);
  EXPECT_EQ(Value(2, "Status"), "Y-Y");
  run = Ctl({"edit", "1", "--password-stdin"}, "other\r\n");
  EXPECT_EQ(Value(1, "MYSQL_Password"), "other");

  run = Ctl({"remove", "1", "--yes"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out,
            "removed configuration 1: ACD (10.0.0.5 : 4660) -> MYSQL (localhost : 3306 )\n");
  EXPECT_EQ(Value(0, "ConfigCount"), "1");
  EXPECT_EQ(Value(1, "ACD_Server"), "10.0.0.6");
  EXPECT_EQ(Value(1, "Status"), "Y-Y");
}

TEST_F(CallsinkctlTest, BadInputIsRefusedWithExitTwoAndChangesNothing) {
  ASSERT_EQ(Ctl({"add", "--server", "10.0.0.5"}).exit_code, 0);
  const std::string long_text(100, 'x');
  ExpectUsageError({"frobnicate"}, "unknown command frobnicate");
  ExpectUsageError({"list", "--verbose"}, "unknown option --verbose");
  ExpectUsageError({"list", "extra"}, "unexpected argument extra");
  ExpectUsageError({"remove", "1", "--port", "1"}, "--port does not belong");
  ExpectUsageError({"add"}, "add needs --server");
  ExpectUsageError({"add", "--server"}, "--server needs a value");
  ExpectUsageError({"add", "--server", ""}, "must not be empty");
  ExpectUsageError({"edit", "1", "--server="}, "must not be empty");
  for (const std::string port : {"0", "65536", "abc", "-1", "4660x", "", "999999"}) {
    ExpectUsageError({"add", "--server", "10.0.0.6", "--port", port},
                     "the port must be a number from 1 to 65535");
  }
  ExpectUsageError({"add", "--server", long_text}, "longer than 99 characters");
  ExpectUsageError({"add", "--server", "10.0.0.6", "--user", long_text},
                   "longer than 99 characters");
  ExpectUsageError({"add", "--server", "10.0.0.6\n2\tfake row"},
                   "must not hold control characters");
  ExpectUsageError({"add", "--server", "10.0.0.6", "--password-stdin"},
                   "password is longer than 99 characters", long_text + "\n");
  ExpectUsageError({"add", "--server", "10.0.0.6", "--password", kSecret},
                   "never given on the command line");
  ExpectUsageError({"add", "--server", "10.0.0.6", "--password-stdin"}, "no line");
  ExpectUsageError({"add", "--server", "10.0.0.6", "--yes=1"}, "takes no value");
  for (const std::string number : {"0", "2", "-1", "one", "1000000000000"}) {
    ExpectUsageError({"edit", number, "--port", "1"}, "there is no configuration " + number);
    ExpectUsageError({"remove", number, "--yes"}, "there is no configuration " + number);
  }
  ExpectUsageError({"remove", "1"}, "run it on a terminal or pass --yes");
  ExpectUsageError({"data"}, "data needs servers, delete or drop-all");
  ExpectUsageError({"data", "servers"}, "needs --config N");
  ExpectUsageError({"data", "servers", "--config", "2"}, "there is no configuration 2");
  ExpectUsageError({"data", "servers", "--config", "1", "--yes"}, "--yes does not belong");
  ExpectUsageError({"data", "delete", "--config", "1", "--yes"}, "wrong number of arguments");
  ExpectUsageError({"data", "drop-all", "--config", "1"}, "pass --yes");

  EXPECT_EQ(Value(0, "ConfigCount"), "1");
  EXPECT_EQ(Value(1, "ACD_Port"), "4660");
  EXPECT_EQ(Ctl({}).exit_code, 2);
  EXPECT_EQ(Ctl({"help"}).exit_code, 0);
}

TEST_F(CallsinkctlTest, DatabaseTlsIsSetWhereTheCollectorReadsItAndRefusedWhenWrong) {
  const std::string ca = root_ / "ca.pem";
  const std::string cert = root_ / "client.pem";
  for (const std::string& file : {ca, cert}) std::ofstream(file) << "PEM\n";
  ProgramRun run =
      Ctl({"database", "tls", "verify-identity", "--ca", ca, "--cert", cert, "--key", cert});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("TLS\tverify-identity\nCA\t" + ca + "\n"), std::string::npos) << run.out;
  // Files not given stay; an empty one is cleared.
  ASSERT_EQ(Ctl({"database", "tls", "Required", "--ca="}).exit_code, 0);

  ExpectUsageError({"database", "tls", "strict"}, "the mode is one of off, required");
  ExpectUsageError({"database", "tls", "off", "--cert", cert}, "--cert and --key go together");
  ExpectUsageError({"database", "tls", "verify-ca", "--ca", root_ / "missing.pem"}, "is no file");
  ExpectUsageError({"database", "tls", "--ca", ca}, "set together with the mode");
  ExpectUsageError({"database", "tls", "off", "--port", "1"}, "--port does not belong");

  Registry registry(root_ / "var/lib/callsink/registry.db");
  ASSERT_TRUE(registry.Open(Registry::OpenMode::kExisting));
  const DatabaseTlsSetting setting = DatabaseTlsSetting::Read(registry);
  EXPECT_EQ(setting.mode, DatabaseTlsSetting::Mode::kRequired);
  EXPECT_EQ(setting.ca, "");
  EXPECT_EQ(setting.cert, cert);
  EXPECT_EQ(setting.key, cert);
  run = Ctl({"database", "tls"});
  EXPECT_EQ(run.out.rfind("TLS\trequired\nCA\t(the system's store)\nCert\t" + cert, 0), 0)
      << run.out;
}

TEST_F(CallsinkctlTest, The100thConfigurationIsRefusedWithNoMoreConfigs) {
  {
    Registry registry(root_ / "var/lib/callsink/registry.db");
    ASSERT_TRUE(registry.Open(Registry::OpenMode::kCreate));
    std::vector<ConfigRow> rows(99, ConfigRow{"10.0.0.1", "4660", "localhost", "root", "", "N-N"});
    ASSERT_TRUE(ConfigStore::Write(registry, rows));
  }
  const ProgramRun run = Ctl({"add", "--server", "10.0.0.100"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "No more configs!\n");
  EXPECT_EQ(Value(0, "ConfigCount"), "99");
}

TEST_F(CallsinkctlTest, UnusableRegistryIsReportedAndLeftAlone) {
  TempDir::MakeFolder(root_ / "var/lib/callsink");
  TempDir::WriteFile(root_ / "var/lib/callsink/registry.db", "garbage");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"add", "--server", "10.0.0.5"}, {"list"}, {"status"}, {"remove", "1", "--yes"}}) {
    const ProgramRun run = Ctl(args);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("is not a usable registry file"), std::string::npos) << run.err;
  }
  EXPECT_EQ(TempDir::ReadFile(root_ / "var/lib/callsink/registry.db"), "garbage");
}

// apply launches the collector beside callsinkctl: a copy of callsinkctl in
// a folder of its own, with or without a stand-in collector. A restart
// counts once the service runs again; whatever a launch says on stderr is
// the reason it did not.
TEST_F(CallsinkctlTest, ApplyReportsTheRestartOrWhyItFailed) {
  TempDir bin;
  std::filesystem::copy_file(ProgramRun::PathOf("callsinkctl"), bin / "callsinkctl");
  program_ = bin / "callsinkctl";
  const std::string tail = " ), try to restart service manually\n";

  ProgramRun run = Ctl({"apply"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Apply failed ( Reason : the ACD service executable file is not found" + tail);

  const std::string log = bin / "launches";
  TempDir::WriteFile(bin / "callsink", "#!/bin/sh\necho \"$1\" >> '" + log + "'\n");
  ASSERT_EQ(chmod((bin / "callsink").c_str(), 0755), 0);
  const auto start = std::chrono::steady_clock::now();
  run = Ctl({"apply"});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "Apply failed ( Reason : the ACD service is not running after the restart" + tail);
  for (int i = 0; i < 100 && TempDir::ReadFile(log) != "-stop\n-start\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(TempDir::ReadFile(log), "-stop\n-start\n");

  TempDir::WriteFile(bin / "callsink",
                     "#!/bin/sh\n[ \"$1\" = -start ] && echo 'Operation not permitted' >&2\n"
                     "exit 0\n");
  run = Ctl({"apply"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "Apply failed ( Reason : callsink -start: Operation not permitted" + tail);
}

TEST_F(CallsinkctlTest, HelpVersionAndAMissingStoreAreAnsweredPlainly) {
  for (const std::string flag : {"--help", "-h", "help"}) {
    const ProgramRun run = Ctl({flag});
    EXPECT_EQ(run.exit_code, 0) << flag;
    EXPECT_EQ(run.out.rfind("usage: callsinkctl list\n", 0), 0u) << flag;
    EXPECT_EQ(run.err, "") << flag;
  }
  ProgramRun run = Ctl({"--version"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "callsinkctl 1.11\n");

  const std::string missing = "callsinkctl: there is no configuration store " +
                              root_ / "var/lib/callsink/registry.db" +
                              " yet: nothing is configured (add creates it)\n";
  run = Ctl({"list"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, missing);
  run = Ctl({"status"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "ACD Service: not running\n\nHealth: none, the collector is not running\n");
  EXPECT_EQ(run.err, missing);
}

// The store is root's (its folder and file): as any other user every
// command says that it needs root and how, and changes nothing.
TEST_F(CallsinkctlTest, WithoutRootEveryCommandSaysItNeedsRootAndChangesNothing) {
  ASSERT_EQ(Ctl({"add", "--server", "10.0.0.5"}).exit_code, 0);
  const auto as_nobody = [&](const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                               ProgramRun::PathOf(program)});
    return ProgramRun::Run("/usr/bin/setpriv", args, {{"CALLSINK_ROOT", root_.path()}});
  };
  const std::vector<std::vector<std::string>> commands = {
      {"list"},
      {"status"},
      {"add", "--server", "10.0.0.6"},
      {"edit", "1", "--port", "1"},
      {"remove", "1", "--yes"},
      {"apply"},
      {"data", "servers", "--config", "1"},
      {"data", "delete", "10.0.0.5", "--config", "1", "--yes"},
      {"data", "drop-all", "--config", "1", "--yes"}};
  const std::string denied =
      "cannot open registry file " + root_ / "var/lib/callsink/registry.db" + ": Permission denied";
  for (const auto& command : commands) {
    const ProgramRun run = as_nobody("callsinkctl", command);
    EXPECT_EQ(run.exit_code, 1) << testing::PrintToString(command) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "callsinkctl: " + denied +
                           "\ncallsinkctl needs root rights for the "
                           "configuration store: run it as root, for instance with sudo\n");
  }
  const ProgramRun query = as_nobody("callsinkreg", {"query", ConfigLayout::kConfigsKey});
  EXPECT_EQ(query.exit_code, 1);
  EXPECT_EQ(query.err, "callsinkreg: " + denied +
                           "\ncallsinkreg needs root rights for the "
                           "configuration store: run it as root, for instance with sudo\n");
  EXPECT_EQ(Value(0, "ConfigCount"), "1");
  EXPECT_EQ(Value(1, "ACD_Port"), "4660");
}

}  // namespace
}  // namespace callsink
