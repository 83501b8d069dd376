#include "config/config_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/config_layout.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

// The layout read from a store written value by value, with everything the
// reader reported along the way.
class ConfigReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(registry_.Open(Registry::OpenMode::kCreate)); }

  void SetCount(const std::string& count) {
    ASSERT_TRUE(registry_.CreateKey(ConfigLayout::kConfigsKey));
    ASSERT_TRUE(registry_.SetValue(ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount, count));
  }
  void SetValue(int number, ConfigColumn column, const std::string& data) {
    ASSERT_TRUE(registry_.CreateKey(ConfigLayout::ConfigKey(number)));
    ASSERT_TRUE(
        registry_.SetValue(ConfigLayout::ConfigKey(number), kConfigValueNames[column], data));
  }

  // Reads the layout and returns its result; the reports land in the members.
  bool Read() {
    ConfigReadCallbacks callbacks;
    callbacks.config = [this](int number, ConfigRow row) {
      rows_.emplace_back(number, std::move(row));
    };
    callbacks.count_capped = [this](int count) { capped_.push_back(count); };
    callbacks.value_ignored = [this](int number, const char* name) {
      ignored_.push_back("Config" + std::to_string(number) + " " + name);
    };
    return ReadConfigs(registry_, callbacks) == ConfigReadResult::kRead;
  }

  test::TempDir dir_;
  Registry registry_{dir_ / "registry.db"};
  std::vector<std::pair<int, ConfigRow>> rows_;
  std::vector<int> capped_;
  std::vector<std::string> ignored_;
};

TEST_F(ConfigReaderTest, WithoutTheConfigsKeyNothingIsReadOrReported) {
  EXPECT_FALSE(Read());
  EXPECT_TRUE(rows_.empty());
  EXPECT_TRUE(capped_.empty());
}

TEST_F(ConfigReaderTest, CountsLikeAtoiAndCapsAtTheMostEitherProgramTakes) {
  struct Case {
    const char* count;
    size_t rows;
  };
  for (const Case& c : {Case{"-3", 0}, Case{"2 servers", 2}, Case{"150", 99}}) {
    SCOPED_TRACE(c.count);
    rows_.clear();
    SetCount(c.count);
    EXPECT_TRUE(Read());
    ASSERT_EQ(rows_.size(), c.rows);
    for (size_t i = 0; i < rows_.size(); ++i) EXPECT_EQ(rows_[i].first, static_cast<int>(i + 1));
  }
  EXPECT_EQ(capped_, std::vector<int>{150});
}

TEST_F(ConfigReaderTest, OverlongValuesReadEmptyAndOnlySettingsAreReported) {
  SetCount("3");
  SetValue(1, kAcdServer, "10.0.0.1");
  SetValue(1, kAcdPort, "4660");
  SetValue(1, kMysqlPassword, std::string(ConfigLayout::kMaxValueLength, 'p'));
  SetValue(1, kStatus, "Y-Y");
  SetValue(2, kAcdServer, std::string(ConfigLayout::kMaxValueLength + 1, 's'));
  SetValue(2, kMysqlUser, std::string(ConfigLayout::kMaxValueLength + 1, 'u'));
  SetValue(2, kStatus, std::string(ConfigLayout::kMaxValueLength + 1, 'N'));
  // Config3 has no subkey at all.
  ASSERT_TRUE(Read());
  ASSERT_EQ(rows_.size(), 3u);
  EXPECT_EQ(rows_[0].second, (ConfigRow{"10.0.0.1", "4660", "", "",
                                        std::string(ConfigLayout::kMaxValueLength, 'p'), "Y-Y"}));
  EXPECT_EQ(rows_[1].second, ConfigRow{});
  EXPECT_EQ(rows_[2].second, ConfigRow{});
  EXPECT_EQ(ignored_, (std::vector<std::string>{"Config2 ACD_Server", "Config2 MYSQL_User"}));
  EXPECT_TRUE(capped_.empty());
}

TEST(ConfigLayoutTest, AtoiFollowsTheCRules) {
  EXPECT_EQ(ConfigLayout::AtoI(" 2abc"), 2);
  EXPECT_EQ(ConfigLayout::AtoI("\t-17x"), -17);
  EXPECT_EQ(ConfigLayout::AtoI("- 1"), 0);
  EXPECT_EQ(ConfigLayout::AtoI("99999999999"), 2147483647);
  EXPECT_EQ(ConfigLayout::AtoI("-99999999999"), -2147483647 - 1);
}

}  // namespace
}  // namespace callsink
