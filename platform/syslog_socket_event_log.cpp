#include "platform/syslog_socket_event_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace callsink {

SyslogSocketEventLog::SyslogSocketEventLog(std::string socket_path)
    : socket_path_(std::move(socket_path)) {}

SyslogSocketEventLog::~SyslogSocketEventLog() = default;

bool SyslogSocketEventLog::Open(const std::string& source) {
  if (!EventLog::Open(source)) return false;
  if (!socket_.valid()) socket_ = FileDescriptor(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  return socket_.valid();
}

void SyslogSocketEventLog::Close() {
  EventLog::Close();
  socket_.Reset();
}

void SyslogSocketEventLog::Emit(int type, const std::string& line) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!socket_.valid() || socket_path_.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%b %e %T", &local);
  const std::string datagram = "<" + std::to_string(LOG_DAEMON | Priority(type)) + ">" + stamp +
                               " " + source() + "[" + std::to_string(getpid()) + "]: " + line;
  // Unconnected, so a reader that comes later still gets the records;
  // never blocking, so a stuck reader cannot stall the service.
  sendto(socket_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
         reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

}  // namespace callsink
