#include "tests/tools/acdsim/sim_fixture.h"

#include <stdexcept>

#include "tools/acdsim/scenario_file.h"

namespace callsink::test {

using Clock = std::chrono::steady_clock;

acdsim::SimOptions TestOptions() {
  acdsim::SimOptions options;
  options.rate = 0;
  options.start_time = 1717200000;
  return options;
}

SimServer::SimServer(const acdsim::SimOptions& options, const std::string& scenario) {
  acdsim::CallCentre centre;
  std::string error;
  if (!acdsim::ScenarioFile::Parse(scenario, &centre, &error)) throw std::runtime_error(error);
  if (options.faults.names_without_nul) centre.FillNamesToFieldWidth();
  simulator_ = std::make_unique<acdsim::AcdSimulator>(options, std::move(centre));
  if (!simulator_->Listen(&error)) throw std::runtime_error(error);
  thread_ = std::thread([this] { simulator_->Run(stop_); });
}

SimServer::~SimServer() { Stop(); }

void SimServer::Stop() {
  stop_.Set();
  if (thread_.joinable()) thread_.join();
}

SimClient::SimClient(uint16_t port) : connection_(&log_, &give_up_) {
  if (!connection_.Connect("127.0.0.1", port)) throw std::runtime_error("cannot connect");
  watchdog_ = std::thread([this] {
    while (!done_.load()) {
      if (Clock::now().time_since_epoch().count() > deadline_ns_.load()) give_up_.Set();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
}

SimClient::~SimClient() {
  done_.store(true);
  watchdog_.join();
}

void SimClient::GiveUpAfter(int timeout_ms) {
  deadline_ns_.store(
      (Clock::now() + std::chrono::milliseconds(timeout_ms)).time_since_epoch().count());
}

bool SimClient::Send(const AcdRequest& request) {
  return connection_.Send(request.data(), request.size(), 0) ==
         static_cast<ssize_t>(request.size());
}

std::vector<uint8_t> SimClient::ReceiveBytes(size_t length, int timeout_ms) {
  std::vector<uint8_t> bytes(length);
  GiveUpAfter(timeout_ms);
  const ssize_t received = connection_.Receive(bytes.data(), length, 0);
  deadline_ns_.store(INT64_MAX);
  bytes.resize(received > 0 ? static_cast<size_t>(received) : 0);
  return bytes;
}

std::optional<Message> SimClient::Receive(int timeout_ms) {
  const std::vector<uint8_t> head = ReceiveBytes(wire::kHeaderSize, timeout_ms);
  if (head.size() != wire::kHeaderSize) return std::nullopt;
  Message message;
  message.header = HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(head.data(), 20));
  const std::optional<size_t> body_length = BodyLength(message.header);
  if (body_length && *body_length > 0) {
    message.body = ReceiveBytes(*body_length, timeout_ms);
    if (message.body.size() != *body_length) return std::nullopt;
  }
  return message;
}

std::optional<Message> SimClient::ReceiveEvent(int timeout_ms) {
  for (;;) {
    std::optional<Message> message = Receive(timeout_ms);
    if (!message || message->header.msg_class != 1) return message;
  }
}

}  // namespace callsink::test
