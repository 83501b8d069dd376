#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/tools/program_run.h"

namespace callsink {
namespace {

using test::ProgramRun;
using test::TempDir;

const std::string kConfigs = "Software\\Orvanta Technologies\\ACD Service\\Configs";

// Runs the real callsinkreg against a registry below a temporary CALLSINK_ROOT.
class CallsinkregTest : public ::testing::Test {
 protected:
  ProgramRun Reg(const std::vector<std::string>& args) {
    return ProgramRun::Run("callsinkreg", args, {{"CALLSINK_ROOT", root_.path()}});
  }
  std::string RegistryFile() const { return root_ / "var/lib/callsink/registry.db"; }
  void ExpectFailure(const ProgramRun& run, const std::string& message_part) {
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(message_part), std::string::npos) << run.err;
  }

  TempDir root_;
};

TEST_F(CallsinkregTest, AddedValuesAreQueriedAsListingOrAsBareData) {
  ASSERT_EQ(Reg({"add", kConfigs, "ConfigCount", "2"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", kConfigs + "\\Config1", "ACD_Server", "10.0.0.5", "REG_SZ"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", kConfigs + "\\Config2"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", kConfigs, "Flags", "0x1F", "REG_DWORD"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", kConfigs, "Empty", ""}).exit_code, 0);

  const ProgramRun listing = Reg({"query", "\\" + kConfigs + "\\"});
  EXPECT_EQ(listing.exit_code, 0) << listing.err;
  EXPECT_EQ(listing.out,
            "ConfigCount\tREG_SZ\t2\n"
            "Empty\tREG_SZ\t\n"
            "Flags\tREG_DWORD\t31\n" +
                kConfigs + "\\Config1\n" + kConfigs + "\\Config2\n");

  const ProgramRun data = Reg({"query", kConfigs + "\\Config1", "acd_server"});
  EXPECT_EQ(data.exit_code, 0);
  EXPECT_EQ(data.out, "10.0.0.5\n");

  // A second add replaces the value, also its type.
  ASSERT_EQ(Reg({"add", kConfigs, "Flags", "4294967295", "REG_DWORD"}).exit_code, 0);
  EXPECT_EQ(Reg({"query", kConfigs, "Flags"}).out, "4294967295\n");
  ASSERT_EQ(Reg({"add", kConfigs, "Flags", "text"}).exit_code, 0);
  EXPECT_NE(Reg({"query", kConfigs}).out.find("Flags\tREG_SZ\ttext\n"), std::string::npos);
}

TEST_F(CallsinkregTest, MissingKeysAndValuesExitOneWithTheirName) {
  ASSERT_EQ(Reg({"add", kConfigs, "ConfigCount", "0"}).exit_code, 0);
  ExpectFailure(Reg({"query", kConfigs + "\\Config1"}),
                "key \"" + kConfigs + "\\Config1\" does not exist");
  ExpectFailure(Reg({"query", kConfigs, "Status"}), "value \"Status\"");
  ExpectFailure(Reg({"query", kConfigs + "\\Config1", "Status"}), "does not exist");
  ExpectFailure(Reg({"delete", kConfigs + "\\Config1"}),
                "key \"" + kConfigs + "\\Config1\" does not exist");
  ExpectFailure(Reg({"delete", kConfigs, "Status"}), "value \"Status\"");
  EXPECT_EQ(Reg({"query", kConfigs, "ConfigCount"}).out, "0\n") << "nothing was changed";
}

TEST_F(CallsinkregTest, DeleteRemovesTheSubtreeOrOneValueAndKeepsSiblings) {
  ASSERT_EQ(Reg({"add", kConfigs + "\\Config1", "Status", "Y-Y"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", kConfigs + "\\Config1\\Deeper", "X", "1"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", kConfigs + "Old", "Keep", "1"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", kConfigs, "ConfigCount", "1"}).exit_code, 0);

  EXPECT_EQ(Reg({"delete", kConfigs, "ConfigCount"}).exit_code, 0);
  EXPECT_EQ(Reg({"query", kConfigs}).out, kConfigs + "\\Config1\n");
  EXPECT_EQ(Reg({"delete", kConfigs}).exit_code, 0);
  EXPECT_EQ(Reg({"query", kConfigs + "\\Config1\\Deeper"}).exit_code, 1);
  EXPECT_EQ(Reg({"query", kConfigs + "Old", "Keep"}).out, "1\n");
}

TEST_F(CallsinkregTest, ExportPrintsEveryKeyAndValueSorted) {
  ASSERT_EQ(Reg({"add", "B\\Two", "z", "last"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", "B\\Two", "a", "7", "REG_DWORD"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", "A"}).exit_code, 0);
  const ProgramRun run = Reg({"export"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out,
            "A\n"
            "B\n"
            "B\\Two\n"
            "B\\Two\ta\tREG_DWORD\t7\n"
            "B\\Two\tz\tREG_SZ\tlast\n");
  ASSERT_EQ(Reg({"delete", "A"}).exit_code, 0);
  ASSERT_EQ(Reg({"delete", "B"}).exit_code, 0);
  EXPECT_EQ(Reg({"export"}).out, "") << "an empty registry exports nothing";
}

TEST_F(CallsinkregTest, MissingOrForeignRegistryFilesAreNamedAndNeverOverwritten) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"query", "A"}, {"delete", "A"}, {"delete", "A", "v"}, {"export"}}) {
    ExpectFailure(Reg(args), "does not exist");
    EXPECT_FALSE(std::filesystem::exists(RegistryFile())) << "only add may create the file";
  }

  TempDir::MakeFolder(root_ / "var/lib/callsink");
  const std::string text = "just some text, not a registry\n";
  TempDir::WriteFile(RegistryFile(), text);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"query", "A"}, {"delete", "A"}, {"export"}, {"add", "A", "v", "1"}}) {
    ExpectFailure(Reg(args), "not a usable registry");
  }
  EXPECT_EQ(TempDir::ReadFile(RegistryFile()), text);

  std::filesystem::remove(RegistryFile());
  TempDir::MakeFolder(RegistryFile());  // a folder where the file belongs
  ExpectFailure(Reg({"export"}), "cannot open registry file");
  ExpectFailure(Reg({"add", "A"}), "cannot open registry file");
}

TEST_F(CallsinkregTest, BadCommandLinesExitTwoWithUsage) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"list"},
                                             {"query"},
                                             {"query", "A", "v", "extra"},
                                             {"add", "A", "v"},
                                             {"add", "A", "v", "1", "REG_BINARY"},
                                             {"add", "A", "v", "-1", "REG_DWORD"},
                                             {"add", "A", "v", "4294967296", "REG_DWORD"},
                                             {"add", "A", "v", "12abc", "REG_DWORD"},
                                             {"add", "\\"},
                                             {"delete", ""},
                                             {"export", "A"}}) {
    const ProgramRun run = Reg(args);
    EXPECT_EQ(run.exit_code, 2) << testing::PrintToString(args);
    EXPECT_NE(run.err.find("usage: callsinkreg"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(RegistryFile())) << "no bad command touched the store";
}

}  // namespace
}  // namespace callsink
