#include "tools/acdsim/acd_simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

uint64_t WallClockMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

// Seconds east of UTC of the local time zone at `seconds` since 1970.
int64_t UtcOffset(uint64_t seconds) {
  const auto time = static_cast<time_t>(seconds);
  tm local{};
  return localtime_r(&time, &local) != nullptr ? local.tm_gmtoff : 0;
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
  std::vector<Server> servers(options_.servers);
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
      return false;
    }
    servers[i].listener = std::move(listener);
    servers[i].port = ntohs(address.sin_port);
  }
  servers_ = std::move(servers);
  for (const Server& server : servers_) ports_.push_back(server.port);
  StartFeeds();
  return true;
}

void AcdSimulator::StartFeeds() {
  const uint64_t start_ms =
      options_.start_time ? uint64_t{*options_.start_time} * 1000 : WallClockMs();
  CallCentreModel::Parameters day = options_.day;
  day.utc_offset_seconds = UtcOffset(start_ms / 1000);
  const auto started = EventFeed::Clock::now();
  for (size_t i = 0; i < servers_.size(); ++i) {
    servers_[i].feed = std::make_unique<EventFeed>(
        options_, CallCentreModel(centre_, day, options_.random_start + i, start_ms),
        servers_[i].port, recording_ ? &recorder_ : nullptr, &stats_, started);
  }
}

void AcdSimulator::AcceptFrom(Server& server) {
  for (;;) {
    FileDescriptor client(
        accept4(server.listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client.valid()) return;  // EAGAIN, or a connection that died in the queue
    // Answers leave at once; the connection batches its own writes.
    const int on = 1;
    setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    server.connections.push_back(std::make_unique<SimConnection>(
        std::move(client), options_, *server.feed, server.port, next_connection_number_++,
        recording_ ? &recorder_ : nullptr, &stats_));
    ++stats_.connections;
  }
}

void AcdSimulator::Run(const ManualResetEvent& stop) {
  std::vector<pollfd> fds;
  while (!stop.IsSet()) {
    const auto now = EventFeed::Clock::now();
    fds.clear();
    fds.push_back({stop.fd(), POLLIN, 0});
    int timeout = -1;
    const auto consider = [&timeout](int wait) {
      if (wait >= 0) timeout = timeout < 0 ? wait : std::min(timeout, wait);
    };
    for (const Server& server : servers_) {
      fds.push_back({server.listener.get(), POLLIN, 0});
      consider(server.feed->TimeoutMs(now, server.connections));
      for (const auto& connection : server.connections) {
        fds.push_back({connection->fd(), connection->PollEvents(now), 0});
        consider(connection->TimeoutMs(now));
      }
    }
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) break;

    const auto later = EventFeed::Clock::now();
    size_t next_fd = 1;
    for (Server& server : servers_) {
      const bool incoming = fds[next_fd++].revents != 0;
      const size_t polled = server.connections.size();
      for (size_t i = 0; i < polled; ++i) {
        server.connections[i]->OnPollEvents(fds[next_fd++].revents);
      }
      if (incoming) AcceptFrom(server);
      server.feed->Produce(later, server.connections);
      for (const auto& connection : server.connections) connection->Flush(later);
      std::erase_if(server.connections,
                    [](const auto& connection) { return connection->closed(); });
    }
    if (recording_) recorder_.Flush();
  }
  servers_.clear();
  if (recording_) recorder_.Flush();
}

}  // namespace callsink::acdsim
