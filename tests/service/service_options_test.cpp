#include "service/service_options.h"

#include <gtest/gtest.h>

#include "tests/service/fake_service_backend.h"

namespace callsink {
namespace {

using test::FakeServiceBackend;

class ServiceOptionsTest : public ::testing::Test {
 protected:
  ServiceOptionsTest() {
    auto backend = std::make_unique<FakeServiceBackend>();
    backend_ = backend.get();
    service_.SetBackend(std::move(backend));
  }

  Service service_{"ACD Service", "ACD Service", "Collects ACD call and status statistics"};
  // Owned by the service.
  FakeServiceBackend* backend_ = nullptr;
};

TEST_F(ServiceOptionsTest, OnlyTheEightExactTextsAreOptions) {
  for (const char* option :
       {"-register", "-r", "-unregister", "-u", "-start", "-st", "-stop", "-sp"}) {
    EXPECT_TRUE(ServiceOptions::IsOption(option)) << option;
  }
  for (const char* other : {"", "-register ", " -register", "-Register", "-R", "-s", "-stopp",
                            "register", "--stop", "-start -stop", "-name=ACD Service", "-r\t"}) {
    EXPECT_FALSE(ServiceOptions::IsOption(other)) << "[" << other << "]";
  }
}

TEST_F(ServiceOptionsTest, EachOptionPerformsItsOperationOnly) {
  struct Row {
    const char* option;
    std::vector<std::string> calls;
  };
  for (const Row& row :
       {Row{"-register", {"Install"}}, Row{"-r", {"Install"}}, Row{"-unregister", {"Uninstall"}},
        Row{"-u", {"Uninstall"}}, Row{"-start", {"Start"}}, Row{"-st", {"Start"}},
        Row{"-stop", {"Stop", "IsStopped"}}, Row{"-sp", {"Stop", "IsStopped"}},
        Row{"-stop ", {}}}) {
    SCOPED_TRACE(row.option);
    backend_->calls.clear();
    ServiceOptions::Perform(service_, row.option);
    EXPECT_EQ(backend_->calls, row.calls);
  }
}

TEST_F(ServiceOptionsTest, FailuresChangeNothingAboutTheOptionFlow) {
  backend_->stop_result = false;
  ServiceOptions::Perform(service_, "-stop");
  // The wait follows the stop request whatever it answered.
  EXPECT_EQ(backend_->calls, (std::vector<std::string>{"Stop", "IsStopped"}));
  EXPECT_EQ(service_.last_error(), EIO);
}

TEST_F(ServiceOptionsTest, StoppedServiceEndsTheWaitWithoutSleeping) {
  int sleeps = 0;
  EXPECT_EQ(ServiceOptions::WaitForStop(service_, [&](std::chrono::milliseconds) { ++sleeps; }), 0);
  EXPECT_EQ(sleeps, 0);
}

TEST_F(ServiceOptionsTest, WaitEndsAtTheFirstStoppedAnswer) {
  backend_->stopped_after = 3;
  std::vector<std::chrono::milliseconds> pauses;
  EXPECT_EQ(ServiceOptions::WaitForStop(
                service_, [&](std::chrono::milliseconds pause) { pauses.push_back(pause); }),
            3);
  EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(3, std::chrono::milliseconds(200)));
  EXPECT_EQ(backend_->calls, std::vector<std::string>(4, "IsStopped"));
}

TEST_F(ServiceOptionsTest, ServiceThatNeverStopsReleasesTheWaitAfter150Pauses) {
  backend_->stopped_after = -1;
  std::chrono::milliseconds waited{0};
  EXPECT_EQ(ServiceOptions::WaitForStop(service_,
                                        [&](std::chrono::milliseconds pause) { waited += pause; }),
            150);
  EXPECT_EQ(waited, std::chrono::seconds(30));
  // One question after the stop request and one after every pause.
  EXPECT_EQ(backend_->calls.size(), 151u);
}

}  // namespace
}  // namespace callsink
