#include "platform/syslog_socket_event_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "tests/support/syslog_sink.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::SyslogSink;
using test::TempDir;

TEST(SyslogSocketEventLogTest, RecordsArriveAsSyslogDatagramsWithTheirPriority) {
  TempDir dir;
  SyslogSink sink(dir / "log");
  ASSERT_TRUE(sink.ok());
  SyslogSocketEventLog log(dir / "log");
  ASSERT_TRUE(log.Open("ACD Service"));
  log.Report(EventLog::kSuccess, EventLog::kRunningMessage, "", 0);
  log.Report(EventLog::kInformation, EventLog::kInfoMessage, "SERVICE_CONTROL_USER2 received", 0);
  log.Report(EventLog::kError, EventLog::kErrorMessage, "X failed.", 13);
  log.Report(EventLog::kWarning, EventLog::kInfoMessage, "careful", 0);

  const std::string pid = std::to_string(getpid());
  const std::vector<std::string> expected = {
      "<29>", "ACD Service[" + pid + "]: ACD Service is running.",
      "<30>", "ACD Service[" + pid + "]: Info from ACD Service (SERVICE_CONTROL_USER2 received).",
      "<27>", "ACD Service[" + pid + "]: Error ocurred in ACD Service (X failed.). [error 13]",
      "<28>", "ACD Service[" + pid + "]: Info from ACD Service (careful)."};
  const auto& records = sink.Records();
  ASSERT_EQ(records.size(), 4u);
  const std::regex stamp("<\\d+>[A-Z][a-z][a-z] [ 1-3]\\d \\d\\d:\\d\\d:\\d\\d .*");
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(records[i]);
    EXPECT_EQ(records[i].rfind(expected[2 * i], 0), 0u);
    EXPECT_TRUE(std::regex_match(records[i], stamp));
    const std::string& tail = expected[2 * i + 1];
    ASSERT_GE(records[i].size(), tail.size());
    EXPECT_EQ(records[i].substr(records[i].size() - tail.size()), tail);
  }
}

TEST(SyslogSocketEventLogTest, NothingIsSentWhileClosedAndAMissingSocketIsNoFailure) {
  TempDir dir;
  SyslogSink sink(dir / "log");
  SyslogSocketEventLog log(dir / "log");
  log.Report(EventLog::kSuccess, EventLog::kRunningMessage, "", 0);
  ASSERT_TRUE(log.Open("ACD Service"));
  log.Close();
  log.Report(EventLog::kSuccess, EventLog::kStoppedMessage, "", 0);
  EXPECT_TRUE(sink.Records().empty());

  SyslogSocketEventLog nowhere(dir / "missing");
  ASSERT_TRUE(nowhere.Open("ACD Service"));
  nowhere.Report(EventLog::kSuccess, EventLog::kRunningMessage, "", 0);
  nowhere.Close();
}

}  // namespace
}  // namespace callsink
