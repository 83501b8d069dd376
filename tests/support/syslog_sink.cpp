#include "tests/support/syslog_sink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace callsink::test {

SyslogSink::SyslogSink(std::string path) : path_(std::move(path)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

SyslogSink::~SyslogSink() {
  if (fd_ < 0) return;
  close(fd_);
  unlink(path_.c_str());
}

void SyslogSink::Drain() {
  char buffer[4096];
  for (;;) {
    const ssize_t size = recv(fd_, buffer, sizeof buffer, 0);
    if (size < 0) return;
    records_.emplace_back(buffer, static_cast<size_t>(size));
  }
}

const std::vector<std::string>& SyslogSink::Records() {
  if (fd_ >= 0) Drain();
  return records_;
}

int SyslogSink::Count(const std::string& text) {
  int count = 0;
  for (const std::string& record : Records()) {
    if (record.find(text) != std::string::npos) ++count;
  }
  return count;
}

bool SyslogSink::WaitFor(const std::string& text, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (Count(text) > 0) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (fd_ < 0 || left.count() <= 0) return false;
    pollfd readable{fd_, POLLIN, 0};
    poll(&readable, 1, static_cast<int>(left.count()));
  }
}

}  // namespace callsink::test
