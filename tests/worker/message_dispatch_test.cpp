// MessageDispatch writing through a recording StatisticsWriter: what the
// server's messages turn into.
#include "worker/message_dispatch.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "platform/activity_log.h"
#include "protocol/acd_header.h"
#include "tests/protocol/wire_bytes.h"
#include "worker/statistics_writer.h"

namespace callsink {
namespace {

using Calls = std::vector<std::string>;

// Records every call as one line.
class RecordingWriter : public StatisticsWriter {
 public:
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

  // Handles one message with `body`, received at `received`.
  void Handle(uint16_t msg_class, uint16_t msg_type, uint32_t timestamp,
              const test::WireBytes& body, uint32_t received = 0) {
    const auto length = static_cast<uint32_t>(20 + body.size());
    test::WireBytes message;
    message.Header(msg_class, msg_type, 0, 7, length, timestamp);
    const AcdHeader header = HeaderToHost(std::span<const uint8_t, 20>(message.bytes().data(), 20));
    dispatch_.Handle(header, body.bytes().data(), body.size(), received);
  }

  static constexpr const char* kServer = "10.0.0.5";
  ActivityLog log_;  // never opened: the lines go nowhere
  RecordingWriter writer_;
  MessageDispatch dispatch_{kServer, &log_, nullptr, &writer_};
};

TEST_F(MessageDispatchTest, EachMessageIsTurnedIntoItsWritesInOrder) {
  Handle(kResponse, 5, 100, test::WireBytes().Be32(2).Name("Sales").Name("Support"));
  Handle(kEvent, 0, 200, test::WireBytes().Name("1001").Name("Sales").Be32(2));
  Handle(kEvent, 0, 210, test::WireBytes().Name("1001").Name("Sales"));  // too short: dropped
  Handle(kEvent, 3, 300, test::WireBytes().Name("Support").Name("").Be32(0).Name(""));
  EXPECT_EQ(writer_.calls, (Calls{
                               "group '10.0.0.5' 'Sales' 100 1 counted 0",
                               "group '10.0.0.5' 'Support' 100 1 counted 0",
                               "interval '10.0.0.5' 'Sales' '1001' 200 2",
                               "status '10.0.0.5' 'Sales' '1001' 200 2",
                               "group '10.0.0.5' 'Support' 300 0 counted 0",
                               "relation '10.0.0.5' 'Support' '' 300 0 counted",
                           }));
}

// A message applied from the journal long after it arrived still records
// when it arrived, not when it was applied nor the server's time.
TEST_F(MessageDispatchTest, AStatusResponseRecordsWhenItWasReceived) {
  Handle(kResponse, 4, 500, test::WireBytes().Name("1001").Name("Sales").Be32(3), 1700000123);
  EXPECT_EQ(writer_.calls, Calls{"status '10.0.0.5' 'Sales' '1001' 1700000123 3"});
}

}  // namespace
}  // namespace callsink
