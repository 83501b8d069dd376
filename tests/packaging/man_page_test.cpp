// The manual pages quote the usage texts of the programs that have one: each
// such page holds, after a "; help-text:" comment, a literal block that must
// be exactly what the program prints when asked for help.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::ChildProcess;
using test::TempDir;

struct Page {
  const char* source;
  const char* program;
  const char* help_argument;
};

constexpr Page kPages[] = {
    {"acdsim.1.scd", "acdsim", "--help"},
    {"callsinkctl.8.scd", "callsinkctl", "help"},
    {"callsinkreg.8.scd", "callsinkreg", "--help"},
};

// The literal block after the "; help-text:" comment, as the reader sees it:
// scdoc takes a backslash as an escape even there. Empty when there is none.
std::string QuotedHelp(const std::string& page) {
  std::istringstream lines(page);
  std::string line;
  while (std::getline(lines, line) && line.rfind("; help-text:", 0) != 0) {
  }
  while (std::getline(lines, line) && line.rfind(";", 0) == 0) {
  }
  if (line != "```") return {};
  std::string text;
  while (std::getline(lines, line) && line != "```") {
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      text += line[i];
    }
    text += '\n';
  }
  return line == "```" ? text : std::string();
}

TEST(ManPageTest, QuotedUsageTextsAreThoseTheProgramsPrint) {
  const char* bin = std::getenv("CALLSINK_BIN");
  ASSERT_NE(bin, nullptr);
  for (const Page& page : kPages) {
    SCOPED_TRACE(page.source);
    const std::string quoted =
        QuotedHelp(TempDir::ReadFile(std::string(CALLSINK_MAN_SOURCES) + "/" + page.source));
    ASSERT_FALSE(quoted.empty()) << "no \"; help-text:\" block";
    TempDir dir;
    ChildProcess program(std::string(bin) + "/" + page.program, {page.help_argument}, {},
                         dir.path(), dir / "help.out");
    EXPECT_EQ(program.WaitExit(10000), std::optional<int>(0));
    EXPECT_EQ(quoted, TempDir::ReadFile(dir / "help.out"));
  }
}

}  // namespace
}  // namespace callsink
