#include "tools/acdsim/acd_simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/manual_reset_event.h"
#include "tools/acdsim/call_centre_model.h"
#include "tools/acdsim/centre_generator.h"
#include "tools/acdsim/scenario_file.h"
#include "tools/acdsim/sim_connection.h"

namespace callsink::acdsim {
namespace {

// With --stop-reading the client's sends should block soon; a small receive
// buffer (inherited from the listener) gets there after a few kilobytes.
constexpr int kStalledReceiveBuffer = 4096;

// How far the model's clock moves per step: at a paced rate it keeps the
// clock roughly in step with the wall clock; unpaced it races ahead in
// milliseconds.
uint32_t StepMs(double rate) {
  if (rate <= 0) return 1;
  return static_cast<uint32_t>(std::clamp(1000.0 / rate, 1.0, 3600000.0));
}

}  // namespace

AcdSimulator::AcdSimulator(SimOptions options, CallCentre centre)
    : options_(std::move(options)), centre_(std::move(centre)) {}

AcdSimulator::~AcdSimulator() = default;

bool AcdSimulator::LoadCentre(const SimOptions& options, CallCentre* centre, std::string* error) {
  if (options.scenario_path.empty()) {
    *centre = CentreGenerator::Generate(options.groups, options.agents, options.random_start);
  } else {
    *centre = CallCentre();
    if (!ScenarioFile::Load(options.scenario_path, centre, error)) return false;
  }
  if (options.faults.names_without_nul) centre->FillNamesToFieldWidth();
  return true;
}

bool AcdSimulator::Listen(std::string* error) {
  if (!options_.record_path.empty()) {
    if (!recorder_.Open(options_.record_path)) {
      *error = "cannot write " + options_.record_path + ": " + std::strerror(errno);
      return false;
    }
    recording_ = true;
  }
  for (size_t i = 0; i < options_.servers; ++i) {
    FileDescriptor listener(
        socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    const int on = 1;
    setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (options_.faults.stop_reading_after) {
      setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &kStalledReceiveBuffer,
                 sizeof kStalledReceiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, options_.listen_host.c_str(), &address.sin_addr);
    const size_t port = options_.listen_port == 0 ? 0 : options_.listen_port + i;
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof address;
    if (!listener.valid() || port > UINT16_MAX ||
        bind(listener.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener.get(), SOMAXCONN) != 0 ||
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      *error = "cannot listen on " + options_.listen_host + ":" + std::to_string(port) + ": " +
               std::strerror(errno);
      listeners_.clear();
      ports_.clear();
      return false;
    }
    listeners_.push_back(std::move(listener));
    ports_.push_back(ntohs(address.sin_port));
  }
  return true;
}

void AcdSimulator::AcceptFrom(size_t listener) {
  for (;;) {
    FileDescriptor client(
        accept4(listeners_[listener].get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client.valid()) return;  // EAGAIN, or a connection that died in the queue
    // Answers leave at once; the connection batches its own writes.
    const int on = 1;
    setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const uint32_t start_time =
        options_.start_time.value_or(static_cast<uint32_t>(std::time(nullptr)));
    CallCentreModel model(centre_, options_.random_start + listener, start_time,
                          StepMs(options_.rate));
    connections_.push_back(std::make_unique<SimConnection>(
        std::move(client), options_, std::move(model), ports_[listener], next_connection_number_++,
        recording_ ? &recorder_ : nullptr, &stats_));
    ++stats_.connections;
  }
}

void AcdSimulator::Run(const ManualResetEvent& stop) {
  std::vector<pollfd> fds;
  while (!stop.IsSet()) {
    const auto now = SimConnection::Clock::now();
    fds.clear();
    fds.push_back({stop.fd(), POLLIN, 0});
    for (const FileDescriptor& listener : listeners_) fds.push_back({listener.get(), POLLIN, 0});
    int timeout = -1;
    for (const auto& connection : connections_) {
      fds.push_back({connection->fd(), connection->PollEvents(now), 0});
      const int wait = connection->TimeoutMs(now);
      if (wait >= 0) timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) break;

    const size_t first_connection = 1 + listeners_.size();
    const size_t polled_connections = connections_.size();
    for (size_t i = 0; i < listeners_.size(); ++i) {
      if (fds[1 + i].revents != 0) AcceptFrom(i);
    }
    const auto later = SimConnection::Clock::now();
    for (size_t i = 0; i < polled_connections; ++i) {
      SimConnection& connection = *connections_[i];
      connection.OnPollEvents(fds[first_connection + i].revents);
      connection.Produce(later);
      connection.Flush(later);
    }
    if (recording_) recorder_.Flush();
    for (size_t i = connections_.size(); i-- > 0;) {
      if (!connections_[i]->closed()) continue;
      connections_.erase(connections_.begin() + static_cast<ptrdiff_t>(i));
    }
  }
  connections_.clear();
  listeners_.clear();
  if (recording_) recorder_.Flush();
}

}  // namespace callsink::acdsim
