#include "service/service_unit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

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

TEST(ServiceUnitTest, TextRunsTheQuotedExecutableWithTheServiceName) {
  EXPECT_EQ(ServiceUnit::Text(kName, kDescription, "/opt/callsink/callsink"),
            "[Unit]\n"
            "Description=Collects ACD call and status statistics\n"
            "\n"
            "[Service]\n"
            "Type=notify\n"
            "NotifyAccess=main\n"
            "ExecStart=\"/opt/callsink/callsink\" \"-name=ACD Service\"\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
}

TEST(ServiceUnitTest, SpecifiersAndVariablesAreEscaped) {
  const std::string text = ServiceUnit::Text("A%b$c", "100% sure", "/opt/a b%c$d/callsink");
  EXPECT_NE(text.find("Description=100%% sure\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ExecStart=\"/opt/a b%%c$d/callsink\" \"-name=A%%b$$c\"\n"),
            std::string::npos)
      << text;
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
