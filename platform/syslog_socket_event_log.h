#pragma once

#include <string>

#include "platform/event_log.h"
#include "platform/file_descriptor.h"

namespace callsink {

// An event log that sends each record as a syslog datagram
// ("<priority>Mmm dd hh:mm:ss source[pid]: line", facility daemon) to a
// socket of its choosing rather than the system's /dev/log. With
// CALLSINK_ROOT set the service logs to "<root>/dev/log", where a private
// syslog daemon or a test reads the records. A missing or full socket drops
// the record, as syslog(3) does. One thread at a time.
class SyslogSocketEventLog : public EventLog {
 public:
  explicit SyslogSocketEventLog(std::string socket_path);
  ~SyslogSocketEventLog() override;
  SyslogSocketEventLog(const SyslogSocketEventLog&) = delete;
  SyslogSocketEventLog& operator=(const SyslogSocketEventLog&) = delete;

  bool Open(const std::string& source) override;
  void Close() override;

 protected:
  void Emit(int type, const std::string& line) override;

 private:
  const std::string socket_path_;
  FileDescriptor socket_;
};

}  // namespace callsink
