// acdsim served in-process, with a client built on AcdConnection.
#include "tools/acdsim/acd_simulator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/agent_list.h"
#include "protocol/call_body.h"
#include "protocol/cdr_body.h"
#include "protocol/config_update_body.h"
#include "protocol/full_agent_list.h"
#include "protocol/group_list.h"
#include "protocol/status_body.h"
#include "tests/protocol/loopback_listener.h"
#include "tests/protocol/wire_bytes.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/acdsim/sim_fixture.h"

namespace callsink {
namespace {

using acdsim::SimOptions;
using test::Message;
using test::SimClient;
using test::SimServer;
using test::TestOptions;

constexpr uint16_t kResponse = 1;
constexpr uint16_t kEvent = 2;

SimOptions WithoutEvents() {
  SimOptions options = TestOptions();
  options.max_events = 0;
  return options;
}

std::vector<std::string> Names(const NameTable& table) {
  std::vector<std::string> names;
  for (size_t i = 0; i < table.size(); ++i) names.emplace_back(table.Name(i));
  return names;
}

using Strings = std::vector<std::string>;

// ---- Answers -------------------------------------------------------------------

TEST(AcdSimulatorAnswerTest, GetGroupsListsEveryGroupUnderTheRequestNumber) {
  SimServer server(WithoutEvents());
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetGroups(123)));
  const auto answer = client.Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->header.msg_class, kResponse);
  EXPECT_EQ(answer->header.msg_type, 5);
  EXPECT_EQ(answer->header.result, 0);
  EXPECT_EQ(answer->header.request_id, 123u);
  EXPECT_EQ(answer->header.timestamp, 1717200000u);
  const auto list = GroupList::Decode(answer->body.data(), answer->body.size());
  ASSERT_TRUE(list);
  EXPECT_EQ(Names(list->groups), (Strings{"Sales", "Support"}));
  EXPECT_TRUE(list->groups.complete());
}

TEST(AcdSimulatorAnswerTest, GetAgentsListsTheGroupsMembers) {
  SimServer server(WithoutEvents());
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetAgents(7, "Sales")));
  const auto answer = client.Receive();
  EXPECT_EQ(answer->header.msg_type, 6);
  EXPECT_EQ(answer->header.request_id, 7u);
  const auto list = AgentList::Decode(answer->body.data(), answer->body.size());
  EXPECT_EQ(list->group, "Sales");
  EXPECT_EQ(Names(list->agents), (Strings{"1001", "1002"}));
}

TEST(AcdSimulatorAnswerTest, GetAllAgentsListsEveryAgentWithItsFullName) {
  SimServer server(WithoutEvents());
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetAllAgents(8)));
  const auto answer = client.Receive();
  EXPECT_EQ(answer->header.msg_type, 7);
  const auto list = FullAgentList::Decode(answer->body.data(), answer->body.size());
  ASSERT_EQ(list->entries.size(), 3u);
  EXPECT_EQ(list->agent(0), "1001");
  EXPECT_EQ(list->full_name(0), "Anna Berg");
  EXPECT_EQ(list->agent(2), "2001");
  EXPECT_EQ(list->full_name(2), "Eva Gran");
}

TEST(AcdSimulatorAnswerTest, StatusGivesTheMembersStatusInThatGroup) {
  SimServer server(WithoutEvents());
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::Status(9, "Sales", "1002")));
  ASSERT_TRUE(client.Send(AcdRequest::Status(10, "Support", "2001")));
  for (const auto& [id, agent, group, status] :
       {std::tuple{9u, "1002", "Sales", 4}, std::tuple{10u, "2001", "Support", 0}}) {
    const auto answer = client.Receive();
    EXPECT_EQ(answer->header.msg_type, 4);
    EXPECT_EQ(answer->header.request_id, id);
    const auto body = StatusBody::Decode(answer->body.data(), answer->body.size());
    ASSERT_TRUE(body);
    EXPECT_EQ(body->agent, agent);
    EXPECT_EQ(body->group, group);
    EXPECT_EQ(body->status, status);
  }
}

TEST(AcdSimulatorAnswerTest, UnknownNamesAreAnsweredWithResultOneAndNoBody) {
  SimServer server(WithoutEvents());
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::Status(1, "Support", "1002")));  // not a member
  ASSERT_TRUE(client.Send(AcdRequest::GetAgents(2, "Nowhere")));
  for (int type : {4, 6}) {
    const auto answer = client.Receive();
    EXPECT_EQ(answer->header.msg_type, type);
    EXPECT_EQ(answer->header.result, 1);
    EXPECT_EQ(answer->header.length, 20u);
  }
}

TEST(AcdSimulatorAnswerTest, EveryRequestOperationOfTheConnectionIsAnswered) {
  SimServer server(WithoutEvents());
  SimClient client(server.port());
  AcdConnection& connection = client.connection();
  EXPECT_TRUE(connection.SubscribeStatus("*", "*"));
  EXPECT_TRUE(connection.SubscribeCall("*"));
  EXPECT_TRUE(connection.SubscribeCDR("*"));
  EXPECT_TRUE(connection.SubscribeConfig());
  EXPECT_TRUE(connection.GetStatus("Sales", "1001"));
  EXPECT_TRUE(connection.GetGroups());
  EXPECT_TRUE(connection.GetAgents("Support"));
  EXPECT_TRUE(connection.GetAllAgents());
  for (uint16_t type = 0; type < 8; ++type) {
    const auto answer = client.Receive();
    ASSERT_TRUE(answer) << type;
    EXPECT_EQ(answer->header.msg_class, kResponse);
    EXPECT_EQ(answer->header.msg_type, type);
    EXPECT_EQ(answer->header.result, 0);
    EXPECT_LT(answer->header.request_id, 1000u);
    EXPECT_EQ(answer->header.length, type < 4 ? 20u : 20u + answer->body.size());
  }
}

TEST(AcdSimulatorAnswerTest, ListsTooLongForOneMessageComeInSeveralThatFit) {
  SimOptions options = WithoutEvents();
  std::string scenario;
  for (int i = 0; i < 300; ++i) {
    scenario += "group G" + std::to_string(i) + "\nagent A" + std::to_string(i) + " \"\"\n";
  }
  SimServer server(options, scenario);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetGroups(5)));
  ASSERT_TRUE(client.Send(AcdRequest::GetAllAgents(6)));
  std::vector<size_t> group_parts;
  std::vector<size_t> agent_parts;
  while (group_parts.size() + agent_parts.size() < 5) {
    const auto answer = client.Receive();
    ASSERT_TRUE(answer);
    EXPECT_LE(answer->header.length, 4096u);
    if (answer->header.msg_type == 5) {
      EXPECT_EQ(answer->header.request_id, 5u);
      group_parts.push_back(
          GroupList::Decode(answer->body.data(), answer->body.size())->groups.size());
    } else {
      EXPECT_EQ(answer->header.request_id, 6u);
      agent_parts.push_back(
          FullAgentList::Decode(answer->body.data(), answer->body.size())->entries.size());
    }
  }
  EXPECT_EQ(group_parts, (std::vector<size_t>{254, 46}));
  EXPECT_EQ(agent_parts, (std::vector<size_t>{126, 126, 48}));
}

TEST(AcdSimulatorAnswerTest, RequestWithABrokenLengthClosesTheConnection) {
  SimServer server(WithoutEvents());
  SimClient client(server.port());
  const std::vector<uint8_t> broken = test::WireBytes().Header(0, 5, 0, 1, 12, 0).bytes();
  ASSERT_EQ(client.connection().Send(broken.data(), broken.size(), 0), 20);
  EXPECT_FALSE(client.Receive());
}

// ---- Event streams -----------------------------------------------------------------

struct StreamRow {
  const char* name;
  AcdRequest subscription;
  std::set<uint16_t> event_types;
};

TEST(AcdSimulatorEventTest, EachSubscriptionBringsOnlyItsStreamWithWholeBodies) {
  const StreamRow rows[] = {
      {"status", AcdRequest::SubscribeStatus(1, "*", "*"), {0}},
      {"cdr", AcdRequest::SubscribeCDR(2, "*"), {1}},
      {"call", AcdRequest::SubscribeCall(3, "*"), {2}},
      {"config", AcdRequest::SubscribeConfig(4), {3, 4, 5}},
  };
  for (const StreamRow& row : rows) {
    SimOptions options = TestOptions();
    options.max_events = 300;
    SimServer server(options);
    SimClient client(server.port());
    ASSERT_TRUE(client.Send(row.subscription));
    const auto ack = client.Receive();
    ASSERT_TRUE(ack) << row.name;
    EXPECT_EQ(ack->header.msg_class, kResponse);
    EXPECT_EQ(ack->header.length, 20u) << row.name;
    std::set<uint16_t> seen;
    for (int i = 0; i < 300; ++i) {
      const auto event = client.Receive();
      ASSERT_TRUE(event) << row.name << " event " << i;
      ASSERT_EQ(event->header.msg_class, kEvent);
      ASSERT_TRUE(row.event_types.count(event->header.msg_type)) << row.name;
      seen.insert(event->header.msg_type);
      const uint8_t* body = event->body.data();
      const size_t size = event->body.size();
      bool decoded = false;
      switch (event->header.msg_type) {
        case 0:
          decoded = StatusBody::Decode(body, size).has_value();
          break;
        case 1:
          decoded = CdrBody::Decode(body, size).has_value();
          break;
        case 2:
          decoded = CallBody::Decode(body, size).has_value();
          break;
        default:
          decoded = ConfigUpdateBody::Decode(body, size).has_value();
          break;
      }
      EXPECT_TRUE(decoded) << row.name;
    }
    EXPECT_EQ(seen, row.event_types) << row.name;
    EXPECT_FALSE(client.Receive(200)) << row.name << ": nothing after --events";
    server.Stop();
    EXPECT_EQ(server.stats().total_events(), 300u);
  }
}

TEST(AcdSimulatorEventTest, GroupFilterSelectsThatGroupsCalls) {
  SimOptions options = TestOptions();
  options.max_events = 40;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeCall(1, "Support")));
  ASSERT_TRUE(client.Receive());
  for (int i = 0; i < 40; ++i) {
    const auto event = client.Receive();
    ASSERT_TRUE(event);
    EXPECT_EQ(CallBody::Decode(event->body.data(), event->body.size())->group, "Support");
  }
}

TEST(AcdSimulatorEventTest, SubscribeFlagZeroEndsTheStream) {
  SimOptions options = TestOptions();
  options.rate = 200;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(1, "*", "*")));
  ASSERT_TRUE(client.ReceiveEvent());
  AcdRequest stop = AcdRequest::SubscribeStatus(2, "*", "*");
  std::vector<uint8_t> bytes(stop.data(), stop.data() + stop.size());
  bytes[52] = 0;  // the little-endian flag 01 00 00 00 becomes 0
  ASSERT_EQ(client.connection().Send(bytes.data(), bytes.size(), 0), 56);
  // Events sent before the server read the request may still arrive.
  for (;;) {
    const auto message = client.Receive(1000);
    ASSERT_TRUE(message);
    if (message->header.msg_class == kResponse && message->header.request_id == 2) break;
  }
  EXPECT_FALSE(client.Receive(300));
}

TEST(AcdSimulatorEventTest, RateLimitsTheEventsPerSecond) {
  SimOptions options = TestOptions();
  options.rate = 100;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(1, "*", "*")));
  ASSERT_TRUE(client.Receive());
  const auto start = std::chrono::steady_clock::now();
  int events = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
    ASSERT_TRUE(client.Receive());
    ++events;
  }
  EXPECT_GE(events, 50);
  EXPECT_LE(events, 150);
}

TEST(AcdSimulatorEventTest, SameFlagsGiveTheSameEventsAndEachServerItsOwn) {
  SimOptions options = TestOptions();
  options.max_events = 200;
  options.servers = 2;
  const auto stream = [](const SimServer& server, size_t listener) {
    SimClient client(server.port(listener));
    EXPECT_TRUE(client.Send(AcdRequest::SubscribeStatus(1, "*", "*")));
    EXPECT_TRUE(client.Send(AcdRequest::SubscribeCall(1, "*")));
    std::string bytes;
    for (int i = 0; i < 202; ++i) {
      const auto message = client.Receive();
      if (!message) break;
      bytes += std::to_string(message->header.msg_type) + ":" + test::ToHex(message->body) + ";";
    }
    return bytes;
  };
  SimServer server(options);
  SimServer again(options);
  const std::string first = stream(server, 0);
  EXPECT_EQ(stream(again, 0), first);
  EXPECT_NE(stream(server, 1), first) << "the second listener starts elsewhere";
}

constexpr const char* kRecordFile = "traffic.record";

// Test options that record the traffic in `dir`.
SimOptions Recording(const test::TempDir& dir) {
  SimOptions options = TestOptions();
  options.record_path = dir / kRecordFile;
  return options;
}

// The record's event lines, in order.
struct EventLine {
  double wall_time;
  std::string connection;
  std::string direction;
  std::string hex;
  // The header's timestamp.
  uint32_t server_time() const {
    return static_cast<uint32_t>(std::stoul(hex.substr(32, 8), nullptr, 16));
  }
};

std::vector<EventLine> EventLines(const std::string& record_file) {
  std::vector<EventLine> lines;
  std::istringstream record(test::TempDir::ReadFile(record_file));
  for (std::string line; std::getline(record, line);) {
    std::istringstream words(line);
    std::vector<std::string> row;
    for (std::string word; words >> word;) row.push_back(word);
    if (row.size() == 8 && row[4] == "2")
      lines.push_back({std::stod(row[0]), row[2], row[3], row[7]});
  }
  return lines;
}

void SubscribeToAll(SimClient& client) {
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeConfig(1)));
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeCDR(2, "*")));
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(3, "*", "*")));
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeCall(4, "*")));
}

// Reads whatever comes for `ms` milliseconds; the number of events.
int Drain(SimClient& client, int ms) {
  int events = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    const auto message = client.Receive(200);
    if (!message) break;
    events += message->header.msg_class == kEvent;
  }
  return events;
}

TEST(AcdSimulatorEventTest,
     TheCentreWorksForEverySubscriberAndNobodyAndTheRecordSaysWhoMissedWhat) {
  test::TempDir dir;
  SimOptions options = Recording(dir);
  options.rate.reset();  // on the simulated clock, over five hours a second
  options.speed = 20000;
  options.day.profile = acdsim::DayProfile::Flat();
  SimServer server(options);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    auto first = std::make_unique<SimClient>(server.port());
    SubscribeToAll(*first);
    SimClient second(server.port());
    SubscribeToAll(second);
    std::thread reader([&] { Drain(second, 1000); });
    EXPECT_GT(Drain(*first, 500), 0);
    first.reset();
    reader.join();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  server.Stop();

  const std::vector<EventLine> lines = EventLines(dir / kRecordFile);
  const auto first_of = [&](const std::string& connection) {
    return std::find_if(lines.begin(), lines.end(),
                        [&](const EventLine& line) { return line.connection == connection; }) -
           lines.begin();
  };
  const auto last_of = [&](const std::string& connection) {
    return lines.rend() -
           std::find_if(lines.rbegin(), lines.rend(),
                        [&](const EventLine& line) { return line.connection == connection; }) -
           1;
  };
  const auto both_from = first_of("2");
  const auto first_until = last_of("1");
  const auto second_until = last_of("2");
  ASSERT_LT(first_of("1"), both_from);
  ASSERT_LT(both_from, first_until);
  ASSERT_LT(first_until, second_until);
  ASSERT_LT(second_until + 1, static_cast<ptrdiff_t>(lines.size()));
  size_t missed = 0;
  for (ptrdiff_t i = 0; i < static_cast<ptrdiff_t>(lines.size()); ++i) {
    const EventLine& line = lines[static_cast<size_t>(i)];
    if (line.direction == "missed") {
      ++missed;
      EXPECT_EQ(line.connection, "0");
      EXPECT_TRUE(i < first_of("1") || i > second_until) << "missed while someone listened: " << i;
    } else {
      EXPECT_EQ(line.direction, "out");
    }
  }
  EXPECT_GT(first_of("1"), 10) << "the centre worked before anyone listened";
  EXPECT_GT(lines.size() - static_cast<size_t>(second_until), 10u) << "and after";
  EXPECT_EQ(server.stats().missed, missed);
  // The server's clock ran at the speed asked for.
  const double simulated = lines.back().server_time() - lines.front().server_time();
  EXPECT_NEAR(simulated / (lines.back().wall_time - lines.front().wall_time), 20000, 2000);
  // While both listened, each event went to both: the same bytes, once each.
  for (ptrdiff_t i = both_from - 1; i <= first_until; i += 2) {
    ASSERT_LT(i + 1, static_cast<ptrdiff_t>(lines.size()));
    const EventLine& one = lines[static_cast<size_t>(i)];
    const EventLine& two = lines[static_cast<size_t>(i + 1)];
    ASSERT_EQ(one.connection + two.connection, "12") << i;
    ASSERT_EQ(one.hex, two.hex) << i;
  }
}

TEST(AcdSimulatorEventTest, AtARateTheCentreStartsWithTheFirstSubscriptionAndGoesOnAlone) {
  test::TempDir dir;
  SimOptions options = Recording(dir);
  options.rate = 200;
  SimServer server(options);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::chrono::steady_clock::time_point gone;
  {
    SimClient client(server.port());
    SubscribeToAll(client);
    EXPECT_GT(Drain(client, 500), 30);
    gone = std::chrono::steady_clock::now();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  server.Stop();
  const double alone =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - gone).count();
  const std::vector<EventLine> lines = EventLines(dir / kRecordFile);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().direction, "out") << "nothing before the first subscription";
  const auto missed =
      static_cast<double>(std::count_if(lines.begin(), lines.end(), [](const EventLine& line) {
        return line.direction == "missed";
      }));
  EXPECT_GT(missed, 100) << "about 200 a second while nobody listened";
  EXPECT_LT(missed, 200 * alone + 10);
}

// ---- Listeners and record ----------------------------------------------------------

TEST(AcdSimulatorServerTest, SeveralListenersEachServe) {
  SimOptions options = WithoutEvents();
  options.servers = 3;
  SimServer server(options);
  ASSERT_EQ(server.listener_count(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SimClient client(server.port(i));
    ASSERT_TRUE(client.Send(AcdRequest::GetGroups(static_cast<uint32_t>(i))));
    EXPECT_EQ(client.Receive()->header.request_id, i);
  }
  server.Stop();
  EXPECT_EQ(server.stats().connections, 3u);
  EXPECT_EQ(server.stats().requests, 3u);
}

TEST(AcdSimulatorServerTest, RecordHoldsEveryRequestAndMessageWithItsBytes) {
  test::TempDir dir;
  SimOptions options = TestOptions();
  options.max_events = 2;
  options.record_path = dir / "traffic.record";
  SimServer server(options);
  std::vector<std::string> received;
  {
    SimClient client(server.port());
    ASSERT_TRUE(client.Send(AcdRequest::GetGroups(123)));
    ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(124, "*", "*")));
    for (int i = 0; i < 4; ++i) {
      const auto message = client.Receive();
      ASSERT_TRUE(message);
      std::vector<uint8_t> bytes(20);
      HeaderToNetwork(message->header, std::span<uint8_t, 20>(bytes.data(), 20));
      bytes.insert(bytes.end(), message->body.begin(), message->body.end());
      received.push_back(test::ToHex(bytes));
    }
  }
  server.Stop();
  std::istringstream lines(test::TempDir::ReadFile(dir / "traffic.record"));
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> row;
    for (std::string word; words >> word;) row.push_back(word);
    ASSERT_EQ(row.size(), 8u) << line;
    rows.push_back(row);
  }
  ASSERT_EQ(rows.size(), 6u);
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(
      (Strings{rows[0].begin() + 1, rows[0].end()}),
      (Strings{port, "1", "in", "0", "5", "123", test::ToHex(AcdRequest::GetGroups(123).bytes())}));
  EXPECT_EQ((Strings{rows[1].begin() + 1, rows[1].end() - 1}),
            (Strings{port, "1", "out", "1", "5", "123"}));
  EXPECT_EQ(rows[1][7], received[0]);
  EXPECT_EQ((Strings{rows[2].begin() + 3, rows[2].end() - 1}), (Strings{"in", "0", "0", "124"}));
  EXPECT_EQ(rows[3][7], received[1]);
  EXPECT_EQ(rows[4][7], received[2]);
  EXPECT_EQ((Strings{rows[5].begin() + 3, rows[5].end() - 1}), (Strings{"out", "2", "0", "0"}));
  EXPECT_EQ(rows[5][7], received[3]);
  EXPECT_NE(rows[0][0].find('.'), std::string::npos) << "seconds.microseconds";
}

// ---- Faults --------------------------------------------------------------------------

TEST(AcdSimulatorFaultTest, CloseAfterEndsTheConnectionAfterThatManyMessages) {
  SimOptions options = WithoutEvents();
  options.faults.close_after = 2;
  SimServer server(options);
  SimClient client(server.port());
  for (uint32_t id : {1u, 2u, 3u}) ASSERT_TRUE(client.Send(AcdRequest::GetGroups(id)));
  EXPECT_EQ(client.Receive()->header.request_id, 1u);
  EXPECT_EQ(client.Receive()->header.request_id, 2u);
  uint8_t byte;
  EXPECT_EQ(client.connection().Receive(&byte, 1, 0), 0) << "closed remotely";
}

TEST(AcdSimulatorFaultTest, SplitRecordsArriveInPiecesAndAreReadWhole) {
  SimOptions options = WithoutEvents();
  options.faults.split_bytes = 5;
  SimServer server(options);
  {
    SimClient client(server.port());
    ASSERT_TRUE(client.Send(AcdRequest::GetGroups(1)));
    const auto answer = client.Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(Names(GroupList::Decode(answer->body.data(), answer->body.size())->groups),
              (Strings{"Sales", "Support"}));
  }
  // Seen from a plain socket: the 56-byte answer takes several reads.
  FileDescriptor raw(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(raw.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const AcdRequest request = AcdRequest::GetGroups(2);
  ASSERT_TRUE(test::WriteAll(raw.get(), request.bytes()));
  size_t total = 0;
  int reads = 0;
  size_t largest = 0;
  while (total < 56) {
    uint8_t buffer[64];
    const ssize_t got = recv(raw.get(), buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0);
    total += static_cast<size_t>(got);
    largest = std::max(largest, static_cast<size_t>(got));
    ++reads;
  }
  EXPECT_GT(reads, 1);
  EXPECT_LT(largest, 56u);
}

TEST(AcdSimulatorFaultTest, BadLengthBelow20SendsOnlyTheHeader) {
  SimOptions options = TestOptions();
  options.faults.bad_length = 12;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(1, "*", "*")));
  const auto ack = client.Receive();
  EXPECT_EQ(ack->header.length, 20u) << "responses keep their length";
  for (int i = 0; i < 2; ++i) {
    const auto event = client.Receive();
    ASSERT_TRUE(event);
    EXPECT_EQ(event->header.msg_class, kEvent);
    EXPECT_EQ(event->header.length, 12u);
  }
}

TEST(AcdSimulatorFaultTest, BadLengthOf20SendsEventsWithoutBody) {
  SimOptions options = TestOptions();
  options.faults.bad_length = 20;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(1, "*", "*")));
  ASSERT_TRUE(client.Receive());
  for (int i = 0; i < 3; ++i) {
    const auto event = client.Receive();
    EXPECT_EQ(event->header.msg_type, 0);
    EXPECT_EQ(event->header.length, 20u);
    EXPECT_TRUE(event->body.empty());
  }
}

TEST(AcdSimulatorFaultTest, BadLengthAbove4096SendsThatManyBytes) {
  SimOptions options = TestOptions();
  options.faults.bad_length = 5000;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(1, "*", "*")));
  ASSERT_TRUE(client.Receive());
  const auto event = client.Receive();
  EXPECT_EQ(event->header.length, 5000u);
  const std::vector<uint8_t> body = client.ReceiveBytes(4980);
  ASSERT_EQ(body.size(), 4980u);
  EXPECT_TRUE(StatusBody::Decode(body.data(), body.size())) << "the event's body, padded";
  EXPECT_EQ(body[4979], 0);
  EXPECT_EQ(client.Receive()->header.length, 5000u) << "the next event follows";
}

TEST(AcdSimulatorFaultTest, UnknownMessageComesBeforeEveryEvent) {
  SimOptions options = TestOptions();
  options.faults.unknown_message = SimOptions::MessageKind{2, 6};
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeCall(1, "*")));
  ASSERT_TRUE(client.Receive());
  for (int i = 0; i < 3; ++i) {
    const auto foreign = client.Receive();
    EXPECT_EQ(foreign->header.msg_class, kEvent);
    EXPECT_EQ(foreign->header.msg_type, 6);
    EXPECT_EQ(foreign->body, std::vector<uint8_t>(36, 0));
    const auto event = client.Receive();
    EXPECT_EQ(event->header.msg_type, 2);
    EXPECT_TRUE(CallBody::Decode(event->body.data(), event->body.size()));
  }
}

TEST(AcdSimulatorFaultTest, FailResultMarksTheChosenTypeAndDropsItsBody) {
  SimOptions options = WithoutEvents();
  options.faults.fail_kind = SimOptions::MessageKind{1, 5};
  options.faults.fail_result = 7;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetGroups(42)));
  ASSERT_TRUE(client.Send(AcdRequest::GetAgents(43, "Sales")));
  const auto failed = client.Receive();
  EXPECT_EQ(failed->header.msg_type, 5);
  EXPECT_EQ(failed->header.result, 7);
  EXPECT_EQ(failed->header.request_id, 42u);
  EXPECT_EQ(failed->header.length, 20u);
  const auto other = client.Receive();
  EXPECT_EQ(other->header.msg_type, 6);
  EXPECT_EQ(other->header.result, 0);
}

TEST(AcdSimulatorFaultTest, FailResultWorksOnEventsToo) {
  SimOptions options = TestOptions();
  options.faults.fail_kind = SimOptions::MessageKind{2, 0};
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeStatus(1, "*", "*")));
  ASSERT_EQ(client.Receive()->header.result, 0);
  const auto event = client.Receive();
  EXPECT_EQ(event->header.result, 3);
  EXPECT_EQ(event->header.length, 20u);
}

TEST(AcdSimulatorFaultTest, NamesWithoutNulFillTheirFields) {
  SimOptions options = WithoutEvents();
  options.faults.names_without_nul = true;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetGroups(1)));
  const auto answer = client.Receive();
  ASSERT_EQ(answer->body.size(), 4u + 32u);
  EXPECT_EQ(std::count(answer->body.begin() + 4, answer->body.end(), 0), 0) << "no NUL";
  const auto list = GroupList::Decode(answer->body.data(), answer->body.size());
  EXPECT_EQ(Names(list->groups), (Strings{"Sales___________", "Support_________"}));
  // The collector sends such a name back cut to 15 characters; it still
  // finds the membership.
  ASSERT_TRUE(client.Send(AcdRequest::Status(2, "Sales___________", "1001____________")));
  const auto status = client.Receive();
  EXPECT_EQ(status->header.result, 0);
  EXPECT_EQ(StatusBody::Decode(status->body.data(), status->body.size())->agent,
            "1001____________");
}

TEST(AcdSimulatorFaultTest, CountBeyondAnnouncesMoreEntriesThanSent) {
  SimOptions options = WithoutEvents();
  options.faults.count_beyond = 5;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetGroups(1)));
  ASSERT_TRUE(client.Send(AcdRequest::GetAgents(2, "Sales")));
  ASSERT_TRUE(client.Send(AcdRequest::GetAllAgents(3)));
  const auto groups = client.Receive();
  const auto agents = client.Receive();
  const auto all = client.Receive();
  const auto group_list = GroupList::Decode(groups->body.data(), groups->body.size());
  EXPECT_EQ(group_list->groups.declared_count(), 7u);
  EXPECT_EQ(group_list->groups.size(), 2u);
  EXPECT_EQ(AgentList::Decode(agents->body.data(), agents->body.size())->agents.declared_count(),
            7u);
  EXPECT_EQ(FullAgentList::Decode(all->body.data(), all->body.size())->entries.declared_count(),
            8u);
}

TEST(AcdSimulatorFaultTest, ShortBodiesAreCutBelowTheirLayout) {
  SimOptions options = TestOptions();
  options.faults.short_bodies = 10;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::Status(1, "Sales", "1001")));
  const auto status = client.Receive();
  EXPECT_EQ(status->header.length, 20u + 26u);
  EXPECT_FALSE(StatusBody::Decode(status->body.data(), status->body.size()));
  ASSERT_TRUE(client.Send(AcdRequest::SubscribeCall(2, "*")));
  ASSERT_TRUE(client.Receive());
  const auto call = client.Receive();
  EXPECT_EQ(call->body.size(), 98u);
  EXPECT_FALSE(CallBody::Decode(call->body.data(), call->body.size()));
}

TEST(AcdSimulatorFaultTest, StopReadingLeavesTheClientsSendsBlocked) {
  SimOptions options = WithoutEvents();
  options.faults.stop_reading_after = 1;
  SimServer server(options);
  SimClient client(server.port());
  ASSERT_TRUE(client.Send(AcdRequest::GetGroups(1)));
  ASSERT_TRUE(client.Receive());
  ASSERT_TRUE(client.Send(AcdRequest::GetGroups(2)));
  EXPECT_FALSE(client.Receive(300)) << "no more answers";

  SimClient blocked(server.port());
  const std::vector<uint8_t> chunk(64 * 1024, 0);
  const AcdRequest first = AcdRequest::GetGroups(1);
  ASSERT_TRUE(blocked.Send(first));
  // The sends fill the buffers; then one waits until the client gives up.
  size_t sent = 0;
  const auto start = std::chrono::steady_clock::now();
  blocked.GiveUpAfter(500);
  while (blocked.connection().Send(chunk.data(), chunk.size(), 0) > 0) sent += chunk.size();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_LT(sent, 64u * 1024 * 1024) << "the server stopped reading";
}

}  // namespace
}  // namespace callsink
