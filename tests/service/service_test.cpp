#include "service/service.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/service/fake_service_backend.h"
#include "tests/support/syslog_sink.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::FakeServiceBackend;
using test::SyslogSink;
using test::TempDir;

using Records = std::vector<std::pair<int, std::string>>;

class RecordingEventLog : public EventLog {
 public:
  explicit RecordingEventLog(Records* records) : records_(records) {}

 protected:
  void Emit(int type, const std::string& line) override { records_->emplace_back(type, line); }

 private:
  Records* records_;
};

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() {
    auto backend = std::make_unique<FakeServiceBackend>();
    backend_ = backend.get();
    service_.SetBackend(std::move(backend));
    service_.SetEventLog(std::make_unique<RecordingEventLog>(&records_));
  }

  Records records_;
  Service service_{"ACD Service", "ACD Service", "Collects ACD call and status statistics"};
  // Owned by the service.
  FakeServiceBackend* backend_ = nullptr;
};

TEST_F(ServiceTest, UserControlCodesWriteInformationRecordsAndOthersNothing) {
  ASSERT_TRUE(service_.Init());
  for (int code : {0, 2, 3, 4, 127, 130, 255}) service_.ControlHandler(code);
  EXPECT_TRUE(records_.empty());
  EXPECT_FALSE(service_.closeEvent().IsSet());

  service_.ControlHandler(kControlUser1);
  service_.ControlHandler(kControlUser2);
  EXPECT_EQ(
      records_,
      (Records{
          {EventLog::kInformation, "Info from ACD Service (SERVICE_CONTROL_USER1 received)."},
          {EventLog::kInformation, "Info from ACD Service (SERVICE_CONTROL_USER2 received)."}}));
  EXPECT_FALSE(service_.closeEvent().IsSet());
}

TEST_F(ServiceTest, StopAndShutdownSetTheCloseEventAfterStopPending) {
  for (int code : {kControlStop, kControlShutdown}) {
    SCOPED_TRACE(code);
    Service service("ACD Service", "ACD Service", "Collects ACD call and status statistics");
    service.SetBackend(std::make_unique<FakeServiceBackend>());
    ASSERT_TRUE(service.Init());
    service.Run();
    service.ControlHandler(code);
    EXPECT_TRUE(service.closeEvent().IsSet());
    EXPECT_EQ(service.status().state, ServiceState::kStopPending);
    EXPECT_EQ(service.status().checkpoint, 2u);
  }
}

TEST_F(ServiceTest, LifecycleReportsEachStateWithTheNextCheckpointAndMarksTheProcess) {
  ASSERT_TRUE(service_.Init());
  EXPECT_EQ(service_.status().state, ServiceState::kStartPending);
  EXPECT_EQ(service_.status().checkpoint, 0u);
  EXPECT_EQ(service_.status().wait_hint_ms, 10000u);
  EXPECT_EQ(service_.Run(), 0);
  EXPECT_EQ(service_.status().state, ServiceState::kRunning);
  EXPECT_EQ(service_.status().checkpoint, 1u);
  EXPECT_EQ(service_.status().wait_hint_ms, 0u);
  service_.ControlHandler(kControlStop);
  EXPECT_TRUE(service_.Shutdown());
  EXPECT_EQ(service_.status().state, ServiceState::kStopped);
  EXPECT_EQ(service_.status().checkpoint, 3u);
  EXPECT_EQ(backend_->calls, (std::vector<std::string>{"OnServiceStart", "OnServiceStop"}));
  EXPECT_TRUE(records_.empty());
  EXPECT_EQ(service_.last_error(), 0);
}

TEST_F(ServiceTest, InitFailsWithARecordWhenTheProcessCannotBeMarked) {
  backend_->service_start_result = false;
  backend_->error = EAGAIN;
  EXPECT_FALSE(service_.Init());
  EXPECT_EQ(records_,
            (Records{{EventLog::kError,
                      "Error ocurred in ACD Service (RegisterServiceCtrlHandler() failed.). "
                      "[error " +
                          std::to_string(EAGAIN) + "]"}}));
  // Shutdown still runs, and nothing was marked that needs releasing.
  service_.Shutdown();
  EXPECT_EQ(backend_->calls, std::vector<std::string>{"OnServiceStart"});
}

TEST_F(ServiceTest, ControlOperationsKeepTheErrorOfAFailureAndClearItOnSuccess) {
  backend_->install_result = false;
  backend_->error = EACCES;
  EXPECT_FALSE(service_.Install());
  EXPECT_EQ(service_.last_error(), EACCES);
  EXPECT_TRUE(service_.Stop());
  EXPECT_EQ(service_.last_error(), 0);
  backend_->uninstall_result = false;
  backend_->error = ENOENT;
  EXPECT_FALSE(service_.Uninstall());
  EXPECT_EQ(service_.last_error(), ENOENT);
  EXPECT_TRUE(service_.Start());
  EXPECT_EQ(service_.last_error(), 0);
  EXPECT_FALSE(service_.IsRunning());
  EXPECT_FALSE(service_.StartedAsService());
}

// Below CALLSINK_ROOT the records go to the syslog socket "<root>/dev/log".
TEST(ServiceEventLogTest, RelocatedServiceWritesItsRecordsToThePrivateSyslogSocket) {
  TempDir root;
  TempDir::MakeFolder(root / "dev");
  SyslogSink sink(root / "dev/log");
  ASSERT_TRUE(sink.ok());
  setenv("CALLSINK_ROOT", root.path().c_str(), 1);
  Service service("ACD Service", "ACD Service", "Collects ACD call and status statistics");
  unsetenv("CALLSINK_ROOT");
  auto backend = std::make_unique<FakeServiceBackend>();
  backend->service_start_result = false;
  backend->error = EAGAIN;
  service.SetBackend(std::move(backend));

  EXPECT_FALSE(service.Init());
  service.Shutdown();
  const std::string source = "ACD Service[" + std::to_string(getpid()) + "]: ";
  ASSERT_EQ(sink.Records().size(), 1u);
  EXPECT_EQ(sink.Records()[0].substr(0, 4), "<27>");
  EXPECT_NE(
      sink.Records()[0].find(source + "Error ocurred in ACD Service (RegisterServiceCtrlHandler() "
                                      "failed.)"),
      std::string::npos);
}

}  // namespace
}  // namespace callsink
