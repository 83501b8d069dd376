#include "tests/protocol/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace callsink::test {

LoopbackListener::LoopbackListener(int backlog)
    : socket_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(socket_.get(), backlog) != 0 ||
      getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    socket_.Reset();
    return;
  }
  port_ = ntohs(address.sin_port);
}

FileDescriptor LoopbackListener::Accept(int timeout_ms) {
  pollfd pfd{socket_.get(), POLLIN, 0};
  if (poll(&pfd, 1, timeout_ms) != 1) return FileDescriptor();
  return FileDescriptor(accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t total = 0;
  while (total < bytes.size()) {
    const ssize_t sent = send(fd, bytes.data() + total, bytes.size() - total, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    total += static_cast<size_t>(sent);
  }
  return true;
}

std::vector<uint8_t> ReadUpTo(int fd, size_t length, int timeout_ms) {
  std::vector<uint8_t> bytes(length);
  size_t total = 0;
  while (total < length) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) != 1) break;
    const ssize_t received = recv(fd, bytes.data() + total, length - total, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) break;
    total += static_cast<size_t>(received);
  }
  bytes.resize(total);
  return bytes;
}

bool WriteByteBySegment(int fd, std::span<const uint8_t> bytes) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (!WriteAll(fd, bytes.subspan(i, 1))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void CloseWithReset(FileDescriptor& socket) {
  const linger abort_on_close{1, 0};
  setsockopt(socket.get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  socket.Reset();
}

}  // namespace callsink::test
