#pragma once

#include <cstdint>
#include <string>

namespace callsink {

// The service's event log: records of a type and a message-table identifier,
// formatted with the source name and a text, written to syslog. Subclasses
// may redirect the formatted lines (tests read them back). One thread at a
// time per object.
class EventLog {
 public:
  // Record types, as the event viewer knows them.
  static constexpr int kSuccess = 0;
  static constexpr int kError = 1;
  static constexpr int kWarning = 2;
  static constexpr int kInformation = 3;

  static constexpr uint32_t kInfoMessage = 1;            // "Info from %1 (%2)."
  static constexpr uint32_t kStartedMessage = 2;         // "%1 sucessfully started."
  static constexpr uint32_t kStoppedMessage = 3;         // "%1 sucessfully stopped."
  static constexpr uint32_t kRunningMessage = 5;         // "%1 is running."
  static constexpr uint32_t kErrorMessage = 0xC0000004;  // "Error ocurred in %1 (%2)."

  virtual ~EventLog() = default;

  // Opens the log under `source`; false when it cannot be opened.
  virtual bool Open(const std::string& source);
  virtual void Close();
  bool IsOpen() const { return open_; }

  // Formats the record from the message table and emits it; does nothing
  // while the log is not open. `last_error` goes into the line as
  // "[error N]".
  void Report(int type, uint32_t id, const std::string& text, int last_error);

  // The message-table text for `id` with %1 = source and %2 = text, without
  // the table's trailing "\r\n". Unknown ids give an empty text.
  static std::string FormatMessage(uint32_t id, const std::string& source, const std::string& text);

 protected:
  // Writes one formatted line; the default goes to syslog(3).
  virtual void Emit(int type, const std::string& line);
  // The syslog priority of a record type: errors LOG_ERR, warnings
  // LOG_WARNING, information LOG_INFO, success LOG_NOTICE.
  static int Priority(int type);
  const std::string& source() const { return source_; }

 private:
  std::string source_;
  bool open_ = false;
};

}  // namespace callsink
