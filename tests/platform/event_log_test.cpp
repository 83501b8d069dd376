#include "platform/event_log.h"

#include <gtest/gtest.h>

namespace callsink {
namespace {

TEST(EventLogTest, MessageTableTextsCarrySourceAndText) {
  EXPECT_EQ(EventLog::FormatMessage(EventLog::kRunningMessage, "ACD Service", ""),
            "ACD Service is running.");
  EXPECT_EQ(EventLog::FormatMessage(EventLog::kStoppedMessage, "ACD Service", ""),
            "ACD Service sucessfully stopped.");
  EXPECT_EQ(EventLog::FormatMessage(EventLog::kStartedMessage, "ACD Service", ""),
            "ACD Service sucessfully started.");
  EXPECT_EQ(EventLog::FormatMessage(EventLog::kInfoMessage, "ACD Service",
                                    "SERVICE_CONTROL_USER1 received"),
            "Info from ACD Service (SERVICE_CONTROL_USER1 received).");
  EXPECT_EQ(EventLog::FormatMessage(EventLog::kErrorMessage, "ACD Service",
                                    "RegisterServiceCtrlHandler() failed."),
            "Error ocurred in ACD Service (RegisterServiceCtrlHandler() failed.).");
  EXPECT_EQ(EventLog::FormatMessage(4, "ACD Service", "x"), "");
}

class RecordingEventLog : public EventLog {
 public:
  std::vector<std::pair<int, std::string>> lines;

 protected:
  void Emit(int type, const std::string& line) override { lines.emplace_back(type, line); }
};

TEST(EventLogTest, ReportsOnlyWhileOpenAndAddsTheErrorCode) {
  RecordingEventLog log;
  log.Report(EventLog::kSuccess, EventLog::kRunningMessage, "", 0);
  EXPECT_TRUE(log.lines.empty());
  ASSERT_TRUE(log.Open("ACD Service"));
  log.Report(EventLog::kSuccess, EventLog::kRunningMessage, "", 0);
  log.Report(EventLog::kError, EventLog::kErrorMessage, "X failed.", 13);
  log.Close();
  log.Report(EventLog::kSuccess, EventLog::kStoppedMessage, "", 0);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], std::make_pair(0, std::string("ACD Service is running.")));
  EXPECT_EQ(log.lines[1],
            std::make_pair(1, std::string("Error ocurred in ACD Service (X failed.). [error 13]")));
}

}  // namespace
}  // namespace callsink
