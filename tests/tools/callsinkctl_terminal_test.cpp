#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "config/config_layout.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/program_run.h"

namespace callsink {
namespace {

using test::ProgramRun;
using test::TempDir;

struct TerminalRun {
  int exit_code = -1;
  std::string screen;   // everything the terminal showed, echoed input included
  bool echoes = false;  // the terminal echoes what is typed, once the program has ended
};

// Runs callsinkctl on a pseudo terminal as a person would: for each step it
// waits (up to 10 s) for the prompt to appear, then types the answer.
TerminalRun RunOnTerminal(const std::string& root, const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::string>>& steps) {
  const std::string program = ProgramRun::PathOf("callsinkctl");
  std::vector<std::string> argv_texts{program};
  argv_texts.insert(argv_texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_texts) argv.push_back(a.data());
  argv.push_back(nullptr);

  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    setenv("CALLSINK_ROOT", root.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  TerminalRun run;
  if (child < 0) return run;
  size_t step = 0;
  size_t seen = 0;  // the next prompt must appear after this position
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (step < steps.size()) {
      const size_t prompt = run.screen.find(steps[step].first, seen);
      if (prompt != std::string::npos) {
        seen = prompt + steps[step].first.size();
        const std::string& typed = steps[step++].second;
        if (write(master, typed.data(), typed.size()) < 0) break;
        continue;
      }
    }
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the program has ended
    run.screen.append(buffer, static_cast<size_t>(got));
  }
  termios settings{};
  run.echoes = tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  close(master);
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  return run;
}

class CallsinkctlTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* server : {"10.0.0.5", "10.0.0.6"}) {
      ASSERT_EQ(ProgramRun::Run("callsinkctl", {"add", "--server", server},
                                {{"CALLSINK_ROOT", root_.path()}})
                    .exit_code,
                0);
    }
  }
  std::string Value(int number, const char* name) {
    Registry registry(root_ / "var/lib/callsink/registry.db");
    std::string data;
    EXPECT_TRUE(registry.Open(Registry::OpenMode::kExisting));
    registry.QueryValue(ConfigLayout::ConfigKey(number), name, &data);
    return data;
  }

  TempDir root_;
};

TEST_F(CallsinkctlTerminalTest, RemoveAsksAreYouSureAndOnlyYesRemoves) {
  TerminalRun run = RunOnTerminal(root_.path(), {"remove", "1"}, {{"Are you sure? [y/N] ", "n\r"}});
  EXPECT_EQ(run.exit_code, 1) << run.screen;
  EXPECT_NE(run.screen.find("nothing removed"), std::string::npos) << run.screen;
  EXPECT_EQ(Value(1, "ACD_Server"), "10.0.0.5");

  run = RunOnTerminal(root_.path(), {"remove", "1"}, {{"Are you sure? [y/N] ", "YES\r"}});
  EXPECT_EQ(run.exit_code, 0) << run.screen;
  EXPECT_EQ(Value(1, "ACD_Server"), "10.0.0.6");
}

TEST_F(CallsinkctlTerminalTest, PasswordTypedOnATerminalIsNeitherEchoedNorPrinted) {
  const std::string password = "Typed-Secret-9";
  const TerminalRun run = RunOnTerminal(root_.path(), {"edit", "2", "--password-stdin"},
                                        {{"Password: ", password + "\r"}});
  EXPECT_EQ(run.exit_code, 0) << run.screen;
  EXPECT_EQ(run.screen.find(password), std::string::npos) << run.screen;
  EXPECT_EQ(Value(2, "MYSQL_Password"), password);
}

TEST_F(CallsinkctlTerminalTest, AnInterruptAtThePasswordPromptGivesTheTerminalItsEchoBack) {
  const TerminalRun run =
      RunOnTerminal(root_.path(), {"edit", "2", "--password-stdin"}, {{"Password: ", "\x03"}});
  EXPECT_EQ(run.exit_code, -1) << "ended by the interrupt: " << run.screen;
  EXPECT_TRUE(run.echoes);
  EXPECT_EQ(Value(2, "MYSQL_Password"), "");
}

}  // namespace
}  // namespace callsink
