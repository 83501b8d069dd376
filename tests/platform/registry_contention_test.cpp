#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::TempDir;
using Clock = std::chrono::steady_clock;

const std::string kConfigs = "Software\\Orvanta Technologies\\ACD Service\\Configs";
const char* const kValueNames[] = {"ACD_Server", "ACD_Port",       "MYSQL_Server",
                                   "MYSQL_User", "MYSQL_Password", "Status"};
constexpr auto kContentionTime = std::chrono::seconds(6);
constexpr auto kPause = std::chrono::milliseconds(1);

std::string ConfigKey(int number) { return kConfigs + "\\Config" + std::to_string(number); }

// Generation g of the layout has 1 + g % 5 configurations, each of whose
// values names g, so a reader can tell a whole layout from a mixed one.
int CountOf(int generation) { return 1 + generation % 5; }
std::string ValueOf(int generation, int config, int column) {
  if (column == 5) return "N-N";
  return std::string(kValueNames[column]) + "/" + std::to_string(generation) + "/" +
         std::to_string(config);
}

// The manager's rewrite: delete the layout, write every configuration, the
// count last, all in one transaction. `between` runs after the first
// configuration is written.
bool RewriteLayout(Registry& registry, int generation, const std::function<void()>& between = {}) {
  return registry.Transaction([&] {
    registry.DeleteKey(kConfigs);  // missing on the first rewrite
    if (!registry.CreateKey(kConfigs)) return false;
    for (int config = 1; config <= CountOf(generation); ++config) {
      if (!registry.CreateKey(ConfigKey(config))) return false;
      for (int column = 0; column < 6; ++column) {
        if (!registry.SetValue(ConfigKey(config), kValueNames[column],
                               ValueOf(generation, config, column))) {
          return false;
        }
      }
      if (config == 1 && between) between();
    }
    return registry.SetValue(kConfigs, "ConfigCount", std::to_string(CountOf(generation)));
  });
}

// Reads the layout in one transaction. Returns the generation it holds, or
// -1 (with `problem` set) when the layout is not whole.
int ReadLayout(Registry& registry, std::string* problem) {
  int generation = -1;
  const bool read = registry.Transaction([&] {
    std::string count_text;
    if (!registry.QueryValue(kConfigs, "ConfigCount", &count_text)) {
      *problem = "no ConfigCount: " + registry.error();
      return true;
    }
    const std::string first_server = [&] {
      std::string data;
      registry.QueryValue(ConfigKey(1), "ACD_Server", &data);
      return data;
    }();
    int found = -1;
    if (std::sscanf(first_server.c_str(), "ACD_Server/%d/1", &found) != 1) {
      *problem = "Config1 unreadable: " + first_server;
      return true;
    }
    if (count_text != std::to_string(CountOf(found))) {
      *problem = "count " + count_text + " with generation " + std::to_string(found);
      return true;
    }
    for (int config = 1; config <= CountOf(found); ++config) {
      for (int column = 0; column < 6; ++column) {
        std::string data;
        registry.QueryValue(ConfigKey(config), kValueNames[column], &data);
        const bool status_ok = column == 5 && (data == "N-N" || data == "Y-Y");
        if (!status_ok && data != ValueOf(found, config, column)) {
          *problem = ConfigKey(config) + " " + kValueNames[column] + " = " + data;
          return true;
        }
      }
    }
    if (registry.KeyExists(ConfigKey(CountOf(found) + 1))) {
      *problem = "an uncounted configuration is left over";
      return true;
    }
    generation = found;
    return true;
  });
  if (!read) *problem = "read failed: " + registry.error();
  return generation;
}

// Runs `body` in a child process; the child's exit code is body's result.
pid_t Spawn(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int ExitCodeOf(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class RegistryContentionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Registry registry(file_);
    ASSERT_TRUE(registry.Open(Registry::OpenMode::kCreate)) << registry.error();
    ASSERT_TRUE(RewriteLayout(registry, 0)) << registry.error();
  }

  TempDir dir_;
  const std::string file_ = dir_ / "registry.db";
};

TEST_F(RegistryContentionTest, RewritesStatusWritesAndReadsInParallelNeverSeeAPartialLayout) {
  const auto deadline = Clock::now() + kContentionTime;
  const std::string counts = dir_ / "counts";
  auto loop = [&](const char* role, const std::function<bool(Registry&, int)>& step) {
    return [&, role, step] {
      Registry registry(file_);
      if (!registry.Open(Registry::OpenMode::kExisting)) return 2;
      int rounds = 0;
      while (Clock::now() < deadline) {
        if (!step(registry, ++rounds)) {
          std::fprintf(stderr, "%s failed in round %d: %s\n", role, rounds,
                       registry.error().c_str());
          return 1;
        }
        // SQLite's busy wait sleeps and retries, so a process that takes the
        // lock again at once can starve the others; real writers pause.
        std::this_thread::sleep_for(kPause);
      }
      TempDir::WriteFile(counts + "." + role, std::to_string(rounds));
      return 0;
    };
  };
  const pid_t rewriter = Spawn(loop(
      "rewriter", [](Registry& registry, int round) { return RewriteLayout(registry, round); }));
  const pid_t status_writer = Spawn(loop("status", [](Registry& registry, int) {
    // Config1 exists in every generation, so the write must always land.
    return registry.SetValue(ConfigKey(1), "Status", "Y-Y");
  }));
  const pid_t reader = Spawn(loop("reader", [](Registry& registry, int) {
    std::string problem;
    if (ReadLayout(registry, &problem) >= 0) return true;
    std::fprintf(stderr, "partial layout: %s\n", problem.c_str());
    return false;
  }));

  EXPECT_EQ(ExitCodeOf(rewriter), 0);
  EXPECT_EQ(ExitCodeOf(status_writer), 0);
  EXPECT_EQ(ExitCodeOf(reader), 0);
  for (const char* role : {"rewriter", "status", "reader"}) {
    const std::string rounds = TempDir::ReadFile(counts + "." + role);
    EXPECT_GE(std::atoi(rounds.c_str()), 10) << role << " hardly ran";
  }
}

TEST_F(RegistryContentionTest, RewriteKilledInsideItsTransactionLeavesThePreviousLayoutWhole) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = Spawn([&] {
    Registry registry(file_);
    if (!registry.Open(Registry::OpenMode::kExisting)) return 2;
    RewriteLayout(registry, 7, [&] {
      // Half of generation 7 is written; wait here to be killed.
      (void)!write(ready[1], "x", 1);
      pause();
    });
    return 3;
  });
  close(ready[1]);
  char signal_byte = 0;
  ASSERT_EQ(read(ready[0], &signal_byte, 1), 1) << "the rewrite never got half way";
  close(ready[0]);
  ASSERT_EQ(kill(child, SIGKILL), 0);
  EXPECT_EQ(ExitCodeOf(child), 128 + SIGKILL);

  Registry registry(file_);
  ASSERT_TRUE(registry.Open(Registry::OpenMode::kExisting));
  std::string problem;
  EXPECT_EQ(ReadLayout(registry, &problem), 0) << problem;

  // The killed writer left no lock behind: the next rewrite goes through at once.
  const auto start = Clock::now();
  ASSERT_TRUE(RewriteLayout(registry, 8)) << registry.error();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(ReadLayout(registry, &problem), 8) << problem;
}

}  // namespace
}  // namespace callsink
