#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::TempDir;

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string file_ = dir_ / "var/lib/callsink/registry.db";
  Registry registry_{file_};

  void SetUp() override { ASSERT_TRUE(registry_.Open(Registry::OpenMode::kCreate)); }
};

TEST_F(RegistryTest, CreatesFileAndFolderWithOwnerOnlyRights) {
  struct stat info {};
  ASSERT_EQ(stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir_ / "var/lib/callsink").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(RegistryTest, KeysValuesAndSubtreesBehaveLikeTheirWindowsCounterparts) {
  const std::string configs = "Software\\Vendor\\Product\\Configs";
  EXPECT_FALSE(registry_.KeyExists(configs));
  EXPECT_FALSE(registry_.SetValue(configs, "ConfigCount", "1")) << "no key, no value";
  ASSERT_TRUE(registry_.CreateKey(configs + "\\Config1"));
  EXPECT_TRUE(registry_.KeyExists("software\\vendor"));  // parents, any case
  ASSERT_TRUE(registry_.SetValue(configs, "ConfigCount", "1"));
  ASSERT_TRUE(registry_.SetValue(configs + "\\Config1", "Flags", "7", RegistryType::kDword));
  ASSERT_TRUE(registry_.SetValue(configs + "\\Config1", "Status", "N-N"));
  ASSERT_TRUE(registry_.SetValue(configs + "\\Config1", "status", "Y-Y"));  // same value

  std::string data;
  RegistryType type{};
  ASSERT_TRUE(registry_.QueryValue(configs + "\\Config1", "Status", &data, &type));
  EXPECT_EQ(data, "Y-Y");
  EXPECT_EQ(type, RegistryType::kString);
  ASSERT_TRUE(registry_.QueryValue(configs + "\\Config1", "Flags", &data, &type));
  EXPECT_EQ(type, RegistryType::kDword);
  EXPECT_FALSE(registry_.QueryValue(configs, "Missing", &data));

  std::vector<std::string> names;
  ASSERT_TRUE(registry_.CreateKey(configs + "\\Config10\\Deeper"));
  ASSERT_TRUE(registry_.SubKeys(configs, &names));
  EXPECT_EQ(names, (std::vector<std::string>{"Config1", "Config10"}));

  // A sibling whose name starts like the deleted key survives.
  ASSERT_TRUE(registry_.CreateKey("Software\\Vendor\\Product\\ConfigsOld"));
  ASSERT_TRUE(registry_.DeleteKey(configs));
  EXPECT_FALSE(registry_.KeyExists(configs + "\\Config10\\Deeper"));
  EXPECT_FALSE(registry_.QueryValue(configs + "\\Config1", "Status", &data));
  EXPECT_TRUE(registry_.KeyExists("Software\\Vendor\\Product\\ConfigsOld"));
  EXPECT_FALSE(registry_.DeleteKey(configs));
}

TEST_F(RegistryTest, FailedTransactionLeavesThePreviousStateWhole) {
  ASSERT_TRUE(registry_.CreateKey("A"));
  ASSERT_TRUE(registry_.SetValue("A", "v", "old"));
  EXPECT_FALSE(registry_.Transaction([&] {
    registry_.DeleteKey("A");
    registry_.CreateKey("A\\B");
    registry_.SetValue("A", "v", "new");
    return false;  // fails half way
  }));
  std::string data;
  ASSERT_TRUE(registry_.QueryValue("A", "v", &data));
  EXPECT_EQ(data, "old");
  EXPECT_FALSE(registry_.KeyExists("A\\B"));
}

TEST(RegistryOpenTest, MissingOrForeignFilesAreReportedAndLeftUntouched) {
  TempDir dir;
  Registry missing(dir / "none.db");
  EXPECT_FALSE(missing.Open(Registry::OpenMode::kExisting));
  EXPECT_NE(missing.error().find("does not exist"), std::string::npos);
  EXPECT_FALSE(TempDir::ReadFile(dir / "none.db").size());

  const std::string text = "this is a text file, not a registry\n";
  TempDir::WriteFile(dir / "text.db", text);
  for (auto mode : {Registry::OpenMode::kExisting, Registry::OpenMode::kCreate}) {
    Registry foreign(dir / "text.db");
    EXPECT_FALSE(foreign.Open(mode));
    EXPECT_NE(foreign.error().find("not a usable registry"), std::string::npos) << foreign.error();
  }
  EXPECT_EQ(TempDir::ReadFile(dir / "text.db"), text);

  // Another program's database is not a registry and is not changed.
  ASSERT_EQ(
      system(("sqlite3 " + dir / "other.db" + " 'CREATE TABLE t (x); INSERT INTO t VALUES (1);'")
                 .c_str()),
      0);
  const std::string before = TempDir::ReadFile(dir / "other.db");
  for (auto mode : {Registry::OpenMode::kExisting, Registry::OpenMode::kCreate}) {
    Registry other(dir / "other.db");
    EXPECT_FALSE(other.Open(mode));
    EXPECT_NE(other.error().find("holds no registry"), std::string::npos) << other.error();
  }
  EXPECT_EQ(TempDir::ReadFile(dir / "other.db"), before);

  // An empty file becomes a registry only when asked to create one.
  TempDir::WriteFile(dir / "empty.db", "");
  Registry empty_existing(dir / "empty.db");
  EXPECT_FALSE(empty_existing.Open(Registry::OpenMode::kExisting));
  Registry empty_create(dir / "empty.db");
  EXPECT_TRUE(empty_create.Open(Registry::OpenMode::kCreate)) << empty_create.error();
}

// The service's own user owns the store's folder: a store that root creates
// there is that user's, and a link put in its place is not followed.
TEST(RegistryOpenTest, StoreRootCreatesInAnotherUsersFolderGoesToThatUser) {
  if (geteuid() != 0) GTEST_SKIP() << "only root creates files for another user";
  constexpr uid_t kUser = 65534;
  constexpr gid_t kGroup = 65534;
  TempDir dir;
  const std::string folder = dir / "store";
  TempDir::MakeFolder(folder);
  ASSERT_EQ(chown(folder.c_str(), kUser, kGroup), 0);
  Registry store(folder + "/registry.db");
  ASSERT_TRUE(store.Open(Registry::OpenMode::kCreate)) << store.error();
  struct stat info {};
  ASSERT_EQ(stat((folder + "/registry.db").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kUser);
  EXPECT_EQ(info.st_gid, kGroup);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_EQ(symlink((dir / "elsewhere.db").c_str(), (folder + "/linked.db").c_str()), 0);
  Registry linked(folder + "/linked.db");
  EXPECT_FALSE(linked.Open(Registry::OpenMode::kCreate));
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere.db"));
}

}  // namespace
}  // namespace callsink
