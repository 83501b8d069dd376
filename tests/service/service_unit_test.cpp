#include "service/service_unit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <regex>

#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::TempDir;

constexpr const char* kName = "ACD Service";
constexpr const char* kDescription = "Collects ACD call and status statistics";

TEST(ServiceUnitTest, NameIsTheServiceNameLowercasedWithDashes) {
  EXPECT_EQ(ServiceUnit::Stem(kName), "acd-service");
  EXPECT_EQ(ServiceUnit::FileName(kName), "acd-service.service");
  EXPECT_EQ(ServiceUnit::FileName("My/Odd@Name\t2"), "my-odd-name-2.service");
}

// What "-register" writes: this executable, as root, allowed to write the
// logs folder beside it.
TEST(ServiceUnitTest, RegisteredUnitRunsTheQuotedExecutableAsRootWithItsLogsBeside) {
  const std::string text = ServiceUnit::Text(kName, kDescription, "/opt/callsink/callsink");
  for (const std::string line :
       {"Description=Collects ACD call and status statistics", "Type=notify",
        "ExecStart=\"/opt/callsink/callsink\" \"-name=ACD Service\"", "User=root", "Group=root",
        "ReadWritePaths=\"-/opt/callsink/logs\"", "SuccessExitStatus=1",
        "WantedBy=multi-user.target"}) {
    EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
  }
  EXPECT_FALSE(std::regex_search(text, std::regex("@[A-Z_]+@"))) << "a placeholder is left:\n"
                                                                 << text;
}

// The package ships the same text, filled in for its own layout.
TEST(ServiceUnitTest, ShippedUnitIsTheCollectorsTextForThePackagedLayout) {
  EXPECT_EQ(TempDir::ReadFile(CALLSINK_SHIPPED_UNIT),
            ServiceUnit::Text(kName, kDescription, CALLSINK_PACKAGED_EXECUTABLE,
                              CALLSINK_PACKAGED_ACCOUNT, CALLSINK_PACKAGED_LOG_FOLDER));
}

TEST(ServiceUnitTest, SpecifiersAndVariablesAreEscaped) {
  const std::string text = ServiceUnit::Text("A%b$c", "100% sure", "/opt/a b%c$d/callsink");
  EXPECT_NE(text.find("Description=100%% sure\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ExecStart=\"/opt/a b%%c$d/callsink\" \"-name=A%%b$$c\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("ReadWritePaths=\"-/opt/a b%%c$d/logs\"\n"), std::string::npos) << text;
  // A value that looks like a placeholder stays as it is.
  EXPECT_NE(ServiceUnit::Text(kName, "@ACCOUNT@", "/opt/callsink/callsink")
                .find("\nDescription=@ACCOUNT@\n"),
            std::string::npos);
}

TEST(ServiceUnitTest, ExecutableIsReadBackFromTheText) {
  for (const std::string path : {"/opt/callsink/callsink", "/opt/a b%c$d/%%callsink"}) {
    EXPECT_EQ(ServiceUnit::ExecutableOf(ServiceUnit::Text(kName, kDescription, path)), path);
  }
  EXPECT_EQ(ServiceUnit::ExecutableOf("[Service]\nExecStart=/bin/true\n"), "");
  EXPECT_EQ(ServiceUnit::ExecutableOf("[Service]\nExecStart=\"/bin/true\n"), "");
  EXPECT_EQ(ServiceUnit::ExecutableOf(""), "");
}

TEST(ServiceUnitTest, PathsSystemdCannotRunGiveNoText) {
  for (const std::string path : {"", "callsink", "/opt/\"x\"/callsink", "/opt/x\\y/callsink",
                                 "/opt/it's/callsink", "/opt/line\nbreak/callsink"}) {
    EXPECT_EQ(ServiceUnit::Text(kName, kDescription, path), "") << path;
  }
  EXPECT_EQ(ServiceUnit::Text(kName, "two\nlines", "/opt/callsink/callsink"), "");
  EXPECT_EQ(ServiceUnit::Text(kName, kDescription, "/opt/callsink/callsink", "root\nUser=x",
                              "/var/log/callsink"),
            "");
  EXPECT_EQ(ServiceUnit::Text(kName, kDescription, "/opt/callsink/callsink", "callsink", "logs"),
            "");
}

TEST(ServiceUnitTest, CreateWritesAReadableFileAndMakesTheFolder) {
  TempDir dir;
  const std::string path = dir / "etc/systemd/system/acd-service.service";
  ASSERT_TRUE(ServiceUnit::Create(path, "unit text\n"));
  EXPECT_TRUE(ServiceUnit::Exists(path));
  EXPECT_EQ(TempDir::ReadFile(path), "unit text\n");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  // Nothing but the unit is left in the folder.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(dir / "etc/systemd/system")) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(ServiceUnitTest, CreateNeverReplacesAnExistingFile) {
  TempDir dir;
  const std::string path = dir / "acd-service.service";
  TempDir::WriteFile(path, "edited by the administrator\n");
  errno = 0;
  EXPECT_FALSE(ServiceUnit::Create(path, "new text\n"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(TempDir::ReadFile(path), "edited by the administrator\n");
}

TEST(ServiceUnitTest, CreateInAnUnwritablePlaceFailsWithTheSystemError) {
  TempDir dir;
  TempDir::WriteFile(dir / "file", "");
  errno = 0;
  EXPECT_FALSE(ServiceUnit::Create(dir / "file/acd-service.service", "text"));
  EXPECT_NE(errno, 0);
  EXPECT_FALSE(ServiceUnit::Exists(dir / "file/acd-service.service"));
}

}  // namespace
}  // namespace callsink
