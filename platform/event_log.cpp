#include "platform/event_log.h"

#include <syslog.h>

namespace callsink {

bool EventLog::Open(const std::string& source) {
  source_ = source;
  // openlog keeps the pointer it is given; source_ lives as long as we do
  // and only changes through Open.
  openlog(source_.c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
  open_ = true;
  return true;
}

void EventLog::Close() {
  if (!open_) return;
  open_ = false;
  closelog();
}

void EventLog::Report(int type, uint32_t id, const std::string& text, int last_error) {
  if (!open_) return;
  std::string line = FormatMessage(id, source_, text);
  if (last_error != 0) line += " [error " + std::to_string(last_error) + "]";
  Emit(type, line);
}

std::string EventLog::FormatMessage(uint32_t id, const std::string& source,
                                    const std::string& text) {
  switch (id) {
    case kInfoMessage:
      return "Info from " + source + " (" + text + ").";
    case kStartedMessage:
      return source + " sucessfully started.";
    case kStoppedMessage:
      return source + " sucessfully stopped.";
    case kRunningMessage:
      return source + " is running.";
    case kErrorMessage:
      return "Error ocurred in " + source + " (" + text + ").";
    default:
      return {};
  }
}

int EventLog::Priority(int type) {
  if (type == kError) return LOG_ERR;
  if (type == kWarning) return LOG_WARNING;
  if (type == kInformation) return LOG_INFO;
  return LOG_NOTICE;
}

void EventLog::Emit(int type, const std::string& line) {
  syslog(Priority(type), "%s", line.c_str());
}

}  // namespace callsink
