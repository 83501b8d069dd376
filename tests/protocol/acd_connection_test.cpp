// AcdConnection against real sockets on 127.0.0.1.
#include "protocol/acd_connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_header.h"
#include "protocol/acd_request.h"
#include "tests/protocol/loopback_listener.h"
#include "tests/protocol/wire_bytes.h"
#include "tests/support/bystanders.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using Clock = std::chrono::steady_clock;
using test::Bystanders;
using test::LoopbackListener;
using test::TempDir;

// Runs each test in a fresh folder holding "logs", with the connection's log
// open as logs/acd_test.log.
class AcdConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = get_current_dir_name();
    TempDir::MakeFolder(dir_ / "logs");
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    ASSERT_TRUE(log_.Open("test"));
  }
  void TearDown() override {
    log_.Close();
    ASSERT_EQ(chdir(old_dir_), 0);
    free(old_dir_);
  }

  // The messages of the log, without their time stamps and banners.
  std::vector<std::string> LogLines() {
    const std::string text = TempDir::ReadFile(dir_ / "logs/acd_test.log");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      const std::string line = text.substr(start, end - start);
      if (line.rfind("-------------------", 0) != 0) lines.push_back(line.substr(10));
    }
    return lines;
  }

  // A connection to `listener` with the server side accepted.
  void ConnectTo(LoopbackListener& listener, AcdConnection& connection, FileDescriptor& server) {
    ASSERT_TRUE(connection.Connect("127.0.0.1", listener.port()));
    server = listener.Accept();
    ASSERT_TRUE(server.valid());
  }

  TempDir dir_;
  char* old_dir_ = nullptr;
  ActivityLog log_;
  ManualResetEvent close_event_;
};

using Lines = std::vector<std::string>;

uint16_t UnusedPort() {
  LoopbackListener listener;
  return listener.port();  // closed again when the listener goes away
}

// ---- Connect ---------------------------------------------------------------

TEST_F(AcdConnectionTest, ConnectToAListeningServerLogsConnected) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  EXPECT_TRUE(connection.Connect("127.0.0.1", listener.port()));
  EXPECT_TRUE(connection.IsConnected());
  EXPECT_TRUE(listener.Accept().valid());
  EXPECT_EQ(LogLines(), Lines{"Connected to ACD server (127.0.0.1)"});
}

TEST_F(AcdConnectionTest, RefusedConnectLogsUnableToConnectAndHoldsNoSocket) {
  const uint16_t port = UnusedPort();
  AcdConnection connection(&log_, &close_event_);
  EXPECT_FALSE(connection.Connect("127.0.0.1", port));
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_EQ(LogLines(), Lines{"Unable to connect to acd server (127.0.0.1)!"});
}

TEST_F(AcdConnectionTest, HostNameInsteadOfDottedAddressIsNotResolved) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  EXPECT_FALSE(connection.Connect("localhost", listener.port()));
  EXPECT_EQ(LogLines(), Lines{"Unable to connect to acd server (localhost)!"});
  EXPECT_FALSE(listener.Accept(100).valid()) << "no connection may reach the server";
}

TEST_F(AcdConnectionTest, CloseEventEndsAConnectThatHangsWithoutALogLine) {
  // Backlog 0 with one connection already queued: the server drops further
  // connection requests, so the next connect waits for the system's retries.
  LoopbackListener listener(/*backlog=*/0);
  AcdConnection filler(&log_, nullptr);
  ASSERT_TRUE(filler.Connect("127.0.0.1", listener.port()));

  AcdConnection connection(&log_, &close_event_);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    close_event_.Set();
  });
  const auto start = Clock::now();
  const bool connected = connection.Connect("127.0.0.1", listener.port());
  const auto waited = Clock::now() - start;
  stopper.join();
  if (connected) GTEST_SKIP() << "this system accepted past the backlog";
  EXPECT_LT(waited, std::chrono::milliseconds(200));
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_EQ(LogLines(), Lines{"Connected to ACD server (127.0.0.1)"}) << "only the filler's line";
}

// ---- Receive -----------------------------------------------------------------

TEST_F(AcdConnectionTest, RecordSplitIntoManySegmentsIsReadWhole) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  const AcdRequest record = AcdRequest::SubscribeStatus(321, "Sales", "1001");
  std::thread sender([&] { test::WriteByteBySegment(server.get(), record.bytes()); });
  std::vector<uint8_t> buffer(record.size());
  EXPECT_EQ(connection.Receive(buffer.data(), buffer.size(), 0),
            static_cast<ssize_t>(record.size()));
  sender.join();
  EXPECT_EQ(test::ToHex(buffer), test::ToHex(record.bytes()));
}

TEST_F(AcdConnectionTest, ReceiveTakesExactlyTheLengthAskedAndLeavesTheRest) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  const std::vector<uint8_t> two = test::FromHex("0102030405060708090a");
  ASSERT_TRUE(test::WriteAll(server.get(), two));
  uint8_t first[3];
  uint8_t second[7];
  EXPECT_EQ(connection.Receive(first, sizeof first, 0), 3);
  EXPECT_EQ(connection.Receive(second, sizeof second, 0), 7);
  EXPECT_EQ(first[2], 3);
  EXPECT_EQ(second[6], 10);
}

TEST_F(AcdConnectionTest, PeerClosingMidRecordGivesClosedRemotelyAndZeroOnce) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  ASSERT_TRUE(test::WriteAll(server.get(), test::FromHex("00060001000400000000")));
  server.Reset();
  uint8_t buffer[20];
  EXPECT_EQ(connection.Receive(buffer, sizeof buffer, 0), 0);
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_EQ(LogLines(),
            (Lines{"Connected to ACD server (127.0.0.1)", "Connection Closed Remotely"}));
}

TEST_F(AcdConnectionTest, PeerResettingMidRecordGivesReceiveFailedOnce) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  ASSERT_TRUE(test::WriteAll(server.get(), test::FromHex("0006000100")));
  uint8_t buffer[20];
  std::thread resetter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    test::CloseWithReset(server);
  });
  EXPECT_LT(connection.Receive(buffer, sizeof buffer, 0), 0);
  resetter.join();
  EXPECT_FALSE(connection.IsConnected());
  char expected[40];
  std::snprintf(expected, sizeof expected, "Receive Failed: %4d\n", ECONNRESET);
  EXPECT_EQ(LogLines(), (Lines{"Connected to ACD server (127.0.0.1)", expected}));
}

TEST_F(AcdConnectionTest, ReceiveWithoutSocketFailsWithItsLine) {
  AcdConnection connection(&log_, &close_event_);
  uint8_t buffer[20];
  EXPECT_LT(connection.Receive(buffer, sizeof buffer, 0), 0);
  char expected[40];
  std::snprintf(expected, sizeof expected, "Receive Failed: %4d\n", EBADF);
  EXPECT_EQ(LogLines(), Lines{expected});
}

TEST_F(AcdConnectionTest, CloseEventEndsABlockingReceiveWithin100Milliseconds) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  Clock::time_point set_at;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    set_at = Clock::now();
    close_event_.Set();
  });
  uint8_t buffer[20];
  const ssize_t result = connection.Receive(buffer, sizeof buffer, 0);
  const auto returned_at = Clock::now();
  stopper.join();
  EXPECT_LT(result, 0);
  EXPECT_LT(returned_at - set_at, std::chrono::milliseconds(100));
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_EQ(LogLines(), Lines{"Connected to ACD server (127.0.0.1)"}) << "no misleading line";
}

TEST_F(AcdConnectionTest, CloseEventAlreadySetWinsOverWaitingData) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  ASSERT_TRUE(test::WriteAll(server.get(), test::FromHex("01020304")));
  close_event_.Set();
  uint8_t buffer[4];
  EXPECT_LT(connection.Receive(buffer, sizeof buffer, 0), 0);
}

// ---- Send and the requests -----------------------------------------------------

TEST_F(AcdConnectionTest, EveryRequestOperationSendsItsRecord) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  EXPECT_TRUE(connection.SubscribeStatus("*", "*"));
  EXPECT_TRUE(connection.SubscribeCall("*"));
  EXPECT_TRUE(connection.SubscribeCDR("*"));
  EXPECT_TRUE(connection.SubscribeConfig());
  EXPECT_TRUE(connection.GetStatus("Sales", "1001"));
  EXPECT_TRUE(connection.GetGroups());
  EXPECT_TRUE(connection.GetAgents("Sales"));
  EXPECT_TRUE(connection.GetAllAgents());

  using Builder = AcdRequest (*)(uint32_t);
  const Builder expected[] = {
      [](uint32_t id) { return AcdRequest::SubscribeStatus(id, "*", "*"); },
      [](uint32_t id) { return AcdRequest::SubscribeCall(id, "*"); },
      [](uint32_t id) { return AcdRequest::SubscribeCDR(id, "*"); },
      [](uint32_t id) { return AcdRequest::SubscribeConfig(id); },
      [](uint32_t id) { return AcdRequest::Status(id, "Sales", "1001"); },
      [](uint32_t id) { return AcdRequest::GetGroups(id); },
      [](uint32_t id) { return AcdRequest::GetAgents(id, "Sales"); },
      [](uint32_t id) { return AcdRequest::GetAllAgents(id); },
  };
  for (uint16_t type = 0; type < 8; ++type) {
    const std::vector<uint8_t> head = test::ReadUpTo(server.get(), 20);
    ASSERT_EQ(head.size(), 20u);
    const AcdHeader header = HeaderToHost(std::span<const uint8_t, 20>(head.data(), 20));
    EXPECT_EQ(header.msg_type, type);
    EXPECT_LT(header.request_id, 1000u);
    std::vector<uint8_t> record = head;
    const std::vector<uint8_t> body = test::ReadUpTo(server.get(), header.length - 20);
    record.insert(record.end(), body.begin(), body.end());
    EXPECT_EQ(test::ToHex(record), test::ToHex(expected[type](header.request_id).bytes()))
        << "type " << type;
  }
}

TEST_F(AcdConnectionTest, RequestsOnAClosedConnectionReturnFalse) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  connection.Close();
  EXPECT_FALSE(connection.SubscribeStatus("*", "*"));
  EXPECT_FALSE(connection.SubscribeCall("*"));
  EXPECT_FALSE(connection.SubscribeCDR("*"));
  EXPECT_FALSE(connection.SubscribeConfig());
  EXPECT_FALSE(connection.GetStatus("Sales", "1001"));
  EXPECT_FALSE(connection.GetGroups());
  EXPECT_FALSE(connection.GetAgents("Sales"));
  EXPECT_FALSE(connection.GetAllAgents());
  const uint8_t byte = 0;
  EXPECT_EQ(connection.Send(&byte, 1, 0), -1);
  EXPECT_EQ(test::ReadUpTo(server.get(), 1, 100).size(), 0u) << "nothing reached the server";
}

TEST_F(AcdConnectionTest, RequestAfterThePeerResetFailsAndClosesTheSocket) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  test::CloseWithReset(server);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(connection.GetGroups());
  EXPECT_FALSE(connection.IsConnected());
}

TEST_F(AcdConnectionTest, CloseEventEndsASendThatAPeerNotReadingBlocks) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  const int small = 4096;
  setsockopt(server.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    close_event_.Set();
  });
  const std::vector<uint8_t> chunk(64 * 1024, 0x55);
  ssize_t result = 0;
  const auto start = Clock::now();
  // The socket buffers fill up within a few chunks; then Send waits.
  while (Clock::now() - start < std::chrono::seconds(10)) {
    result = connection.Send(chunk.data(), chunk.size(), 0);
    if (result < 0) break;
  }
  stopper.join();
  EXPECT_EQ(result, -1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(connection.IsConnected());
}

// ---- Close -------------------------------------------------------------------

TEST_F(AcdConnectionTest, CloseAfterAFailedConnectClosesNothing) {
  AcdConnection connection(&log_, &close_event_);
  ASSERT_FALSE(connection.Connect("127.0.0.1", UnusedPort()));
  Bystanders bystanders;
  connection.Close();
  connection.Close();
  EXPECT_TRUE(bystanders.AllOpen());
}

TEST_F(AcdConnectionTest, CloseTwiceClosesTheSocketOnce) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  connection.Close();
  EXPECT_FALSE(connection.IsConnected());
  Bystanders bystanders;
  connection.Close();
  EXPECT_TRUE(bystanders.AllOpen());
  EXPECT_EQ(test::ReadUpTo(server.get(), 1).size(), 0u) << "the server sees the close";
}

TEST_F(AcdConnectionTest, CloseAfterThePeerClosedClosesNothingTwice) {
  LoopbackListener listener;
  AcdConnection connection(&log_, &close_event_);
  FileDescriptor server;
  ConnectTo(listener, connection, server);
  server.Reset();
  uint8_t buffer[1];
  ASSERT_EQ(connection.Receive(buffer, 1, 0), 0);
  Bystanders bystanders;
  connection.Close();
  EXPECT_TRUE(bystanders.AllOpen());
}

}  // namespace
}  // namespace callsink
