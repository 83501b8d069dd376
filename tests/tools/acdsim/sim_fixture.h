#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_connection.h"
#include "protocol/acd_header.h"
#include "protocol/acd_request.h"
#include "tools/acdsim/acd_simulator.h"

namespace callsink::test {

// The centre most server tests use: two groups, three agents.
inline constexpr const char* kSmallCentre = R"(
group Sales
group Support
agent 1001 "Anna Berg"
agent 1002 "Ben Dahl"
agent 2001 "Eva Gran"
member Sales 1001 1
member Sales 1002 4
member Support 2001 0
member Support 1001 1
)";

// Options for a test server: free port, unpaced, a fixed clock.
acdsim::SimOptions TestOptions();

// An AcdSimulator serving on its own thread from construction until Stop()
// or destruction.
class SimServer {
 public:
  explicit SimServer(const acdsim::SimOptions& options, const std::string& scenario = kSmallCentre);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  uint16_t port(size_t listener = 0) const { return simulator_->ports().at(listener); }
  size_t listener_count() const { return simulator_->ports().size(); }
  // Stops the server and waits for its thread; stats() is valid afterwards.
  void Stop();
  const acdsim::SimStats& stats() const { return simulator_->stats(); }

 private:
  std::unique_ptr<acdsim::AcdSimulator> simulator_;
  ManualResetEvent stop_;
  std::thread thread_;
};

struct Message {
  AcdHeader header;
  std::vector<uint8_t> body;  // length - 20 bytes; empty when the length is out of range
};

// A collector-side client on AcdConnection. Receive gives up after a time
// limit by setting the connection's close event, which ends the connection.
class SimClient {
 public:
  explicit SimClient(uint16_t port);
  ~SimClient();
  SimClient(const SimClient&) = delete;
  SimClient& operator=(const SimClient&) = delete;

  AcdConnection& connection() { return connection_; }
  bool Send(const AcdRequest& request);
  // The next whole message. Nullopt when the connection ended or nothing
  // came within `timeout_ms` (the connection is closed then). A header whose
  // length is out of range comes back with an empty body, and nothing after
  // it is read.
  std::optional<Message> Receive(int timeout_ms = 5000);
  // Exactly `length` raw bytes, or fewer when the connection ended.
  std::vector<uint8_t> ReceiveBytes(size_t length, int timeout_ms = 5000);
  // The next message that is not a response (events and foreign messages).
  std::optional<Message> ReceiveEvent(int timeout_ms = 5000);
  // Sets the connection's close event `timeout_ms` from now, ending whatever
  // the connection waits for then. Any thread may call it.
  void GiveUpAfter(int timeout_ms);

 private:
  ActivityLog log_;  // never opened: the lines go nowhere
  ManualResetEvent give_up_;
  AcdConnection connection_;
  std::atomic<int64_t> deadline_ns_{INT64_MAX};
  std::atomic<bool> done_{false};
  std::thread watchdog_;
};

}  // namespace callsink::test
