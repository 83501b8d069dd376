// MessageDispatch against a peer on 127.0.0.1, writing through a recording
// StatisticsWriter: what a pass turns the server's messages into.
#include "worker/message_dispatch.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "health/worker_stats.h"
#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_connection.h"
#include "tests/protocol/loopback_listener.h"
#include "tests/protocol/wire_bytes.h"
#include "worker/statistics_writer.h"

namespace callsink {
namespace {

using Calls = std::vector<std::string>;

// Records every call as one line; the connection check answers `connected`.
class RecordingWriter : public StatisticsWriter {
 public:
  bool CheckConnection() override {
    calls.push_back("check");
    return connected;
  }
  void WriteGroup(std::string_view server, std::string_view group, uint32_t timestamp,
                  int32_t state, bool modified, int32_t calls_in_queue) override {
    Record("group", server, group, timestamp, state, modified, calls_in_queue);
  }
  void WriteAgent(std::string_view server, std::string_view agent, std::string_view full_name,
                  uint32_t timestamp, int32_t state, bool modified) override {
    Record("agent", server, agent, full_name, timestamp, state, modified);
  }
  void WriteRelation(std::string_view server, std::string_view group, std::string_view agent,
                     uint32_t timestamp, int32_t state, bool modified) override {
    Record("relation", server, group, agent, timestamp, state, modified);
  }
  void WriteStatusInterval(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status) override {
    Record("interval", server, group, agent, timestamp, status);
  }
  void WriteRelationStatus(std::string_view server, std::string_view group, std::string_view agent,
                           uint32_t timestamp, int32_t status) override {
    Record("status", server, group, agent, timestamp, status);
  }
  void WriteCdr(std::string_view server, std::string_view group, std::string_view agent,
                std::string_view caller_user, std::string_view call_guid, uint32_t timestamp,
                int32_t call_duration, int32_t call_state, int32_t close_reason,
                int32_t queue_duration) override {
    Record("cdr", server, group, agent, caller_user, call_guid, timestamp, call_duration,
           call_state, close_reason, queue_duration);
  }
  void WriteCall(std::string_view server, std::string_view group, std::string_view agent,
                 std::string_view call_id, uint32_t timestamp, int32_t call_state,
                 int32_t close_reason) override {
    Record("call", server, group, agent, call_id, timestamp, call_state, close_reason);
  }

  bool connected = true;
  Calls calls;

 private:
  template <typename... Fields>
  void Record(const char* write, const Fields&... fields) {
    std::string line = write;
    ((line += " " + Text(fields)), ...);
    calls.push_back(line);
  }
  static std::string Text(std::string_view text) { return "'" + std::string(text) + "'"; }
  static std::string Text(uint32_t number) { return std::to_string(number); }
  static std::string Text(int32_t number) { return std::to_string(number); }
  static std::string Text(bool flag) { return flag ? "counted" : "uncounted"; }
};

class MessageDispatchTest : public ::testing::Test {
 protected:
  static constexpr uint16_t kResponse = 1;
  static constexpr uint16_t kEvent = 2;

  // Appends one message with `body` to what the server sends.
  void Send(uint16_t msg_class, uint16_t msg_type, uint32_t timestamp,
            const test::WireBytes& body) {
    const auto length = static_cast<uint32_t>(20 + body.size());
    test::WireBytes message;
    message.Header(msg_class, msg_type, 0, 7, length, timestamp);
    sent_.insert(sent_.end(), message.bytes().begin(), message.bytes().end());
    sent_.insert(sent_.end(), body.bytes().begin(), body.bytes().end());
  }
  // Connects, lets the server send everything and end its side, and runs one
  // pass, which ends when the stream does.
  Calls RunPass() {
    test::LoopbackListener listener;
    AcdConnection connection(&log_, &close_event_);
    EXPECT_TRUE(connection.Connect("127.0.0.1", listener.port()));
    FileDescriptor server = listener.Accept();
    EXPECT_TRUE(server.valid());
    EXPECT_TRUE(test::WriteAll(server.get(), sent_));
    // Half closed: the collector's requests still land, nothing is reset.
    shutdown(server.get(), SHUT_WR);
    MessageDispatch(kServer, &log_, &connection, &writer_, &close_event_, &buffer_, &stats_).Run();
    return writer_.calls;
  }

  static constexpr const char* kServer = "10.0.0.5";
  ActivityLog log_;  // never opened: the lines go nowhere
  ManualResetEvent close_event_;
  MessageDispatch::ReceiveBuffer buffer_{};
  RecordingWriter writer_;
  WorkerStats stats_;
  std::vector<uint8_t> sent_;
};

TEST_F(MessageDispatchTest, EachMessageIsCheckedThenTurnedIntoItsWritesInOrder) {
  Send(kResponse, 5, 100, test::WireBytes().Be32(2).Name("Sales").Name("Support"));
  Send(kEvent, 0, 200, test::WireBytes().Name("1001").Name("Sales").Be32(2));
  Send(kEvent, 0, 210, test::WireBytes().Name("1001").Name("Sales"));  // too short: dropped
  Send(kEvent, 3, 300, test::WireBytes().Name("Support").Name("").Be32(0).Name(""));
  EXPECT_EQ(RunPass(), (Calls{
                           "check",
                           "group '10.0.0.5' 'Sales' 100 1 counted 0",
                           "group '10.0.0.5' 'Support' 100 1 counted 0",
                           "check",
                           "interval '10.0.0.5' 'Sales' '1001' 200 2",
                           "status '10.0.0.5' 'Sales' '1001' 200 2",
                           "check",
                           "check",
                           "group '10.0.0.5' 'Support' 300 0 counted 0",
                           "relation '10.0.0.5' 'Support' '' 300 0 counted",
                       }));
}

TEST_F(MessageDispatchTest, AFailedConnectionCheckEndsThePassBeforeTheMessageIsHandled) {
  writer_.connected = false;
  Send(kResponse, 5, 100, test::WireBytes().Be32(1).Name("Sales"));
  Send(kEvent, 0, 200, test::WireBytes().Name("1001").Name("Sales").Be32(2));
  EXPECT_EQ(RunPass(), Calls{"check"});
}

}  // namespace
}  // namespace callsink
