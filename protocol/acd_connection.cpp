#include "protocol/acd_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/activity_log.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_request.h"

namespace callsink {

AcdConnection::AcdConnection(ActivityLog* log, const ManualResetEvent* close_event)
    : log_(log), close_event_(close_event), request_numbers_(std::random_device{}()) {}

AcdConnection::Readiness AcdConnection::WaitFor(short events) const {
  pollfd fds[2] = {{socket_.get(), events, 0},
                   {close_event_ != nullptr ? close_event_->fd() : -1, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Readiness::kFailed;
    }
    // A stop wins over data that may be waiting as well.
    if (fds[1].revents != 0) return Readiness::kStopping;
    if (fds[0].revents != 0) return Readiness::kReady;
  }
}

bool AcdConnection::EnableKeepAlive() const {
  // A server that goes silent is normal (a quiet centre); one whose host is
  // gone must be noticed, and the kernel's default keep-alive takes two
  // hours for it. These times find it in kDeadPeerSeconds: first probe
  // after kKeepAliveIdleSeconds of silence, then kKeepAliveProbes probes
  // kKeepAliveIntervalSeconds apart; requests that stay unacknowledged are
  // given up after the same time.
  const int on = 1;
  const int idle = kKeepAliveIdleSeconds;
  const int interval = kKeepAliveIntervalSeconds;
  const int probes = kKeepAliveProbes;
  const unsigned int unacknowledged_ms = kDeadPeerSeconds * 1000;
  const int fd = socket_.get();
  return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged_ms,
                    sizeof unacknowledged_ms) == 0;
}

bool AcdConnection::Connect(const std::string& address, uint16_t port) {
  // Non-blocking throughout, so that every wait can include the close event;
  // the waits themselves have no time limit, as a blocking socket would not.
  socket_ =
      FileDescriptor(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket_.valid()) {
    log_->Write("Error at socket(): %ld", static_cast<long>(errno));
    return false;
  }
  if (!EnableKeepAlive()) {
    log_->Write("Keepalive setting failed!");
    socket_.Reset();
    return false;
  }

  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  // inet_aton reads the same forms as inet_addr and resolves no names; it
  // also tells a bad text from 255.255.255.255, so no connect is tried with
  // an address that was never given.
  bool connected = inet_aton(address.c_str(), &server.sin_addr) != 0;
  if (connected &&
      connect(socket_.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
    connected = false;
    if (errno == EINPROGRESS) {
      switch (WaitFor(POLLOUT)) {
        case Readiness::kStopping:
          socket_.Reset();
          return false;
        case Readiness::kReady: {
          int error = 0;
          socklen_t size = sizeof error;
          connected =
              getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
          break;
        }
        case Readiness::kFailed:
          break;
      }
    }
  }
  if (!connected) {
    log_->Write("Unable to connect to acd server (%s)!", ActivityLog::Printable(address).c_str());
    socket_.Reset();
    return false;
  }
  log_->Write("Connected to ACD server (%s)", ActivityLog::Printable(address).c_str());
  return true;
}

ssize_t AcdConnection::Send(const void* bytes, size_t length, int flags) {
  if (!socket_.valid()) return -1;
  const auto* data = static_cast<const uint8_t*>(bytes);
  size_t total = 0;
  // A blocking send would hand the whole record over before returning; this
  // loop does the same while watching the close event. MSG_NOSIGNAL turns a
  // peer that went away into an error result instead of SIGPIPE.
  while (total < length) {
    const ssize_t sent =
        send(socket_.get(), data + total, length - total, flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      total += static_cast<size_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(POLLOUT) == Readiness::kReady) {
      continue;
    }
    socket_.Reset();
    return -1;
  }
  return static_cast<ssize_t>(total);
}

bool AcdConnection::HasDataWithin(int timeout_ms) const {
  if (!socket_.valid()) return true;
  pollfd fd = {socket_.get(), POLLIN, 0};
  while (poll(&fd, 1, timeout_ms) < 0) {
    if (errno != EINTR) return true;
  }
  return fd.revents != 0;
}

ssize_t AcdConnection::Receive(void* buffer, size_t length, int flags) {
  if (!socket_.valid()) {
    log_->Write("Receive Failed: %4d\n", EBADF);
    return -1;
  }
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t total = 0;
  while (total < length) {
    switch (WaitFor(POLLIN)) {
      case Readiness::kReady:
        break;
      case Readiness::kStopping:
        socket_.Reset();
        return -1;
      case Readiness::kFailed:
        log_->Write("Receive Failed: %4d\n", errno);
        socket_.Reset();
        return -1;
    }
    const ssize_t received =
        recv(socket_.get(), bytes + total, length - total, flags | MSG_DONTWAIT);
    if (received == 0) {
      log_->Write("Connection Closed Remotely");
      socket_.Reset();
      return 0;
    }
    if (received < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      log_->Write("Receive Failed: %4d\n", errno);
      socket_.Reset();
      return -1;
    }
    total += static_cast<size_t>(received);
  }
  return static_cast<ssize_t>(length);
}

void AcdConnection::Close() { socket_.Reset(); }

uint32_t AcdConnection::NextRequestId() { return static_cast<uint32_t>(request_numbers_() % 1000); }

bool AcdConnection::SendRequest(const AcdRequest& request) {
  return Send(request.data(), request.size(), 0) > 0;
}

bool AcdConnection::SubscribeStatus(std::string_view group_filter, std::string_view agent_filter) {
  return SendRequest(AcdRequest::SubscribeStatus(NextRequestId(), group_filter, agent_filter));
}

bool AcdConnection::SubscribeCall(std::string_view group_filter) {
  return SendRequest(AcdRequest::SubscribeCall(NextRequestId(), group_filter));
}

bool AcdConnection::SubscribeCDR(std::string_view group_filter) {
  return SendRequest(AcdRequest::SubscribeCDR(NextRequestId(), group_filter));
}

bool AcdConnection::SubscribeConfig() {
  return SendRequest(AcdRequest::SubscribeConfig(NextRequestId()));
}

bool AcdConnection::GetStatus(std::string_view group, std::string_view agent) {
  return SendRequest(AcdRequest::Status(NextRequestId(), group, agent));
}

bool AcdConnection::GetGroups() { return SendRequest(AcdRequest::GetGroups(NextRequestId())); }

bool AcdConnection::GetAgents(std::string_view group) {
  return SendRequest(AcdRequest::GetAgents(NextRequestId(), group));
}

bool AcdConnection::GetAllAgents() {
  return SendRequest(AcdRequest::GetAllAgents(NextRequestId()));
}

}  // namespace callsink
