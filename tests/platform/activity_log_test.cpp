#include "platform/activity_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::TempDir;

std::time_t fake_now = 0;
std::time_t FakeClock() { return fake_now; }

// Runs each test in a fresh folder holding "logs", as the collector's folder does.
class ActivityLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    old_dir_ = get_current_dir_name();
    TempDir::MakeFolder(dir_ / "logs");
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_dir_), 0);
    free(old_dir_);
  }
  std::string Content(const std::string& name) {
    return TempDir::ReadFile(dir_ / ("logs/acd_" + name + ".log"));
  }

  TempDir dir_;
  char* old_dir_ = nullptr;
};

TEST_F(ActivityLogTest, BannerThenEntriesAndANewBannerAfterMidnight) {
  fake_now = 1796539048;  // 2026-12-06 06:37:28 UTC
  ActivityLog log(FakeClock);
  ASSERT_TRUE(log.Open("common"));
  EXPECT_EQ(Content("common"), "") << "Open writes nothing";
  log.Write("Waiting for close event");
  fake_now += 1;
  log.Write("Starting thread for server: %s", "10.0.0.5");
  fake_now += 18 * 3600;  // next day
  log.Write("Exitting run function");
  EXPECT_EQ(Content("common"),
            "------------------- Date: 12/06/26 -------------------\r\n"
            "06:37:28: Waiting for close event\r\n"
            "06:37:29: Starting thread for server: 10.0.0.5\r\n"
            "------------------- Date: 12/07/26 -------------------\r\n"
            "00:37:29: Exitting run function\r\n");
}

TEST_F(ActivityLogTest, ReopeningAppendsWithAFreshBannerAndEmbeddedLineFeedsStay) {
  fake_now = 1796539048;
  for (int run = 0; run < 2; ++run) {
    ActivityLog log(FakeClock);
    ASSERT_TRUE(log.Open("10.0.0.5"));
    log.Write("Receive Failed: %4d\n", 104);
  }
  const std::string entry =
      "------------------- Date: 12/06/26 -------------------\r\n"
      "06:37:28: Receive Failed:  104\n\r\n";
  EXPECT_EQ(Content("10.0.0.5"), entry + entry);
}

TEST_F(ActivityLogTest, MessagesAreCutAt999Characters) {
  ActivityLog log;
  ASSERT_TRUE(log.Open("long"));
  const std::string exact(999, 'a');
  const std::string longer = std::string(999, 'b') + "cut";
  log.Write("%s", exact.c_str());
  log.Write("%s", longer.c_str());
  const std::string content = Content("long");
  EXPECT_NE(content.find(": " + exact + "\r\n"), std::string::npos);
  EXPECT_NE(content.find(": " + std::string(999, 'b') + "\r\n"), std::string::npos);
  EXPECT_EQ(content.find("cut"), std::string::npos);
}

TEST_F(ActivityLogTest, LongNamesAreCutAndMissingFolderFailsWithoutWriting) {
  const std::string name(120, 'n');
  ActivityLog log;
  ASSERT_TRUE(log.Open(name));
  log.Write("x");
  EXPECT_FALSE(Content(name.substr(0, 86)).empty());

  ASSERT_EQ(rmdir("logs") == 0 || system("rm -rf logs") == 0, true);
  ActivityLog orphan;
  EXPECT_FALSE(orphan.Open("common"));
  orphan.Write("nothing");  // no file, no crash
  EXPECT_FALSE(orphan.IsOpen());
  EXPECT_NE(access("logs", F_OK), 0) << "the folder is never created";
}

// Names come from the configuration: whatever they hold, the file lies in
// "logs", and a name an administrator would type keeps its bytes.
TEST_F(ActivityLogTest, EveryNameOpensAFileInsideLogs) {
  TempDir::MakeFolder(dir_ / "logs/acd_x");
  const struct {
    std::string name;
    std::string file;
  } cases[] = {
      {"10.0.0.5", "acd_10.0.0.5.log"},
      {"acd-1.example.com", "acd_acd-1.example.com.log"},
      {"Z\xfcrich \"HQ\" \\ 'A'", "acd_Z\xfcrich \"HQ\" \\ 'A'.log"},
      {"x/../../f", "acd_x_.._.._f.log"},
      {"../../../etc/passwd", "acd__._.._.._etc_passwd.log"},
      {".hidden", "acd__hidden.log"},
      {"a\nb\r\tc\x7f", "acd_a_b__c_.log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ActivityLog::FileName(c.name), "logs/" + c.file);
    ActivityLog log;
    ASSERT_TRUE(log.Open(c.name));
    log.Write("x");
    EXPECT_FALSE(TempDir::ReadFile(dir_ / ("logs/" + c.file)).empty());
  }
  EXPECT_EQ(access("f.log", F_OK), -1) << "written outside logs";
}

}  // namespace
}  // namespace callsink
