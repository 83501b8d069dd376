// The acdsim program itself: its command line, its listening lines and its
// summary on SIGTERM / SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/tools/acdsim/sim_fixture.h"

namespace callsink {
namespace {

// acdsim started with its stdout and stderr in pipes.
class AcdsimProcess {
 public:
  explicit AcdsimProcess(std::vector<std::string> args) {
    const std::string program = std::string(std::getenv("CALLSINK_BIN")) + "/acdsim";
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = fdopen(out[0], "r");
    err_ = fdopen(err[0], "r");
  }
  ~AcdsimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    std::fclose(out_);
    std::fclose(err_);
  }

  // One line of stdout without its line feed; empty at the end.
  std::string OutLine() { return Line(out_); }
  std::string ErrLine() { return Line(err_); }
  void Signal(int signal) { kill(pid_, signal); }
  // The exit status; -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  static std::string Line(std::FILE* file) {
    char buffer[4096];
    if (std::fgets(buffer, sizeof buffer, file) == nullptr) return {};
    std::string line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }

  pid_t pid_ = -1;
  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
};

uint16_t PortOf(const std::string& listening_line) {
  const std::string prefix = "listening 127.0.0.1:";
  EXPECT_EQ(listening_line.rfind(prefix, 0), 0u) << listening_line;
  return static_cast<uint16_t>(std::stoi(listening_line.substr(prefix.size())));
}

TEST(AcdsimProgramTest, HelpListsTheFlagsAndExitsZero) {
  AcdsimProcess process({"--help"});
  EXPECT_EQ(process.OutLine(), "Usage: acdsim [FLAG...]");
  EXPECT_EQ(process.Wait(), 0);
}

TEST(AcdsimProgramTest, BadFlagExitsTwoWithItsReason) {
  AcdsimProcess process({"--groups", "many"});
  EXPECT_EQ(process.ErrLine(), "acdsim: bad value for --groups: many (see --help)");
  EXPECT_EQ(process.Wait(), 2);
}

TEST(AcdsimProgramTest, BrokenScenarioExitsOneNamingTheLine) {
  test::TempDir dir;
  test::TempDir::WriteFile(dir / "bad.scenario", "group A\nmember A nobody\n");
  AcdsimProcess process({"--scenario", dir / "bad.scenario"});
  EXPECT_EQ(process.ErrLine(),
            "acdsim: " + (dir / "bad.scenario") + ": line 2: unknown agent \"nobody\"");
  EXPECT_EQ(process.Wait(), 1);
}

TEST(AcdsimProgramTest, PrintsEachListenerAndSummarisesOnSigterm) {
  AcdsimProcess process(
      {"--servers", "2", "--rate", "0", "--events", "5", "--groups", "2", "--agents", "4"});
  const uint16_t first = PortOf(process.OutLine());
  const uint16_t second = PortOf(process.OutLine());
  EXPECT_NE(first, second);
  {
    test::SimClient client(second);
    ASSERT_TRUE(client.Send(AcdRequest::GetGroups(1)));
    ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(2, "*", "*")));
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(client.Receive());
  }
  process.Signal(SIGTERM);
  EXPECT_EQ(process.OutLine(),
            "acdsim: 1 connections, 2 requests, 5 events (Status 5, CDR 0, Call 0, "
            "GroupUpdate 0, RelationUpdate 0, AgentUpdate 0)");
  EXPECT_EQ(process.Wait(), 0);
}

TEST(AcdsimProgramTest, SigintStopsItToo) {
  AcdsimProcess process({"--listen", "127.0.0.1:0"});
  PortOf(process.OutLine());
  process.Signal(SIGINT);
  EXPECT_EQ(process.OutLine().rfind("acdsim: 0 connections, 0 requests, 0 events", 0), 0u);
  EXPECT_EQ(process.Wait(), 0);
}

}  // namespace
}  // namespace callsink
