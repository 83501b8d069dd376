// The Debian package that `make package` builds: its layout, and its
// maintainer scripts run against a temporary root (DPKG_ROOT), never
// against this system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::ChildProcess;
using test::TempDir;

constexpr const char* kPrefix = "/opt/callsink";

bool InCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class PackageTest : public ::testing::Test {
 protected:
  // One package for every test: building it takes a while.
  static void SetUpTestSuite() {
    for (const char* tool : {"/usr/bin/cpack", "/usr/bin/dpkg-deb", "/usr/bin/dpkg-shlibdeps"}) {
      if (access(tool, X_OK) != 0) {
        missing_ = tool;
        return;
      }
    }
    work_ = new TempDir;
    const std::string build = CALLSINK_BUILD_DIR;
    status_ = Run("/usr/bin/cpack",
                  {"-G", "DEB", "--config", build + "/CPackConfig.cmake", "-B", work_->path()}, "",
                  &cpack_output_);
    for (const auto& entry : std::filesystem::directory_iterator(work_->path())) {
      if (entry.path().extension() == ".deb") package_ = entry.path();
    }
  }
  static void TearDownTestSuite() {
    delete work_;
    work_ = nullptr;
  }

  void SetUp() override {
    if (!missing_.empty()) {
      if (InCi()) FAIL() << missing_ << " is missing";
      GTEST_SKIP() << missing_ << " is missing; package not built";
    }
    ASSERT_EQ(status_, 0) << cpack_output_;
    ASSERT_FALSE(package_.empty()) << cpack_output_;
  }

  // Runs a program to its end; its output (stdout and stderr) into `output`.
  static int Run(const std::string& program, const std::vector<std::string>& args,
                 const std::string& env, std::string* output) {
    const std::string output_file = work_->path() + "/run.out";
    std::vector<std::string> environment;
    if (!env.empty()) environment.push_back(env);
    ChildProcess process(program, args, environment, work_->path(), output_file);
    const int status = process.WaitExit(300000).value_or(-1);
    if (output != nullptr) *output = TempDir::ReadFile(output_file);
    return status;
  }

  // The programs this build made, which the package must hold.
  static std::vector<std::string> BuiltPrograms() {
    std::vector<std::string> programs;
    const char* bin = std::getenv("CALLSINK_BIN");
    for (const char* program : {"callsink", "callsinkmanager", "callsinkctl", "callsinkreg"}) {
      if (bin != nullptr && access((std::string(bin) + "/" + program).c_str(), X_OK) == 0) {
        programs.push_back(program);
      }
    }
    return programs;
  }

  // Unpacks the files into `root` and the maintainer scripts into `control`.
  void Unpack(const std::string& root, const std::string& control) {
    ASSERT_EQ(Run("/usr/bin/dpkg-deb", {"-x", package_, root}, "", nullptr), 0);
    ASSERT_EQ(Run("/usr/bin/dpkg-deb", {"-e", package_, control}, "", nullptr), 0);
  }
  // Runs one maintainer script as dpkg would for an installation below `root`.
  int Script(const std::string& control, const std::string& script,
             const std::vector<std::string>& args, const std::string& root) {
    std::string output;
    const int status = Run(control + "/" + script, args, "DPKG_ROOT=" + root, &output);
    EXPECT_EQ(output, "") << script;
    return status;
  }

  static inline TempDir* work_ = nullptr;
  static inline std::string missing_;
  static inline int status_ = -1;
  static inline std::string cpack_output_;
  static inline std::string package_;
};

TEST_F(PackageTest, ListsTheProgramsSideBySideWithTheirLogsFolderAndTheAlertRules) {
  std::string listing;
  ASSERT_EQ(Run("/usr/bin/dpkg-deb", {"-c", package_}, "", &listing), 0);
  std::vector<std::string> entries;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    entries.push_back(path + " " + mode + " " + owner);
  }
  std::vector<std::string> expected = {"./opt/ drwxr-xr-x root/root",
                                       "./opt/callsink/ drwxr-xr-x root/root"};
  const std::vector<std::string> programs = BuiltPrograms();
  ASSERT_FALSE(programs.empty());
  for (const std::string& program : programs) {
    expected.push_back("./opt/callsink/" + program + " -rwxr-xr-x root/root");
  }
  expected.push_back("./opt/callsink/logs/ drwx------ root/root");
  expected.push_back("./opt/callsink/examples/ drwxr-xr-x root/root");
  expected.push_back("./opt/callsink/examples/callsink-alerts.yml -rw-r--r-- root/root");
  std::sort(entries.begin(), entries.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries, expected) << listing;
}

TEST_F(PackageTest, InstallRegistersTheServiceAndRemovalUnregistersIt) {
  TempDir dir;
  const std::string root = dir / "root";
  const std::string control = dir / "control";
  Unpack(root, control);
  const std::string unit = root + "/etc/systemd/system/acd-service.service";
  const std::string program = root + kPrefix + "/callsink";

  ASSERT_EQ(Script(control, "postinst", {"configure", ""}, root), 0);
  EXPECT_EQ(ModeOf(root + "/var/lib/callsink"), 0700u);
  EXPECT_EQ(ModeOf(root + kPrefix + "/logs"), 0700u);
  const std::string text = TempDir::ReadFile(unit);
  EXPECT_NE(text.find("ExecStart=\"" + program + "\" \"-name=ACD Service\""), std::string::npos)
      << text;

  // Configuring again (an upgrade) keeps the registration as it is, and the
  // upgrade's prerm leaves it alone.
  TempDir::WriteFile(unit, text + "# kept\n");
  ASSERT_EQ(Script(control, "postinst", {"configure", "1.10"}, root), 0);
  ASSERT_EQ(Script(control, "prerm", {"upgrade", "1.12"}, root), 0);
  EXPECT_EQ(TempDir::ReadFile(unit), text + "# kept\n");

  ASSERT_EQ(Script(control, "prerm", {"remove"}, root), 0);
  EXPECT_FALSE(std::filesystem::exists(unit));
  ASSERT_EQ(Script(control, "postrm", {"remove"}, root), 0);
  EXPECT_TRUE(std::filesystem::exists(root + "/var/lib/callsink"));
  ASSERT_EQ(Script(control, "postrm", {"purge"}, root), 0);
  EXPECT_FALSE(std::filesystem::exists(root + "/var/lib/callsink"));
  EXPECT_FALSE(std::filesystem::exists(root + kPrefix + "/logs"));
}

}  // namespace
}  // namespace callsink
