#pragma once

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace callsink {

// One append-only text log, "logs/acd_<name>.log" below the current
// directory. Each entry is "HH:MM:SS: message\r\n" in local time, preceded by
// "------------------- Date: MM/DD/YY -------------------\r\n" whenever the
// local date differs from that of this object's last banner. Every Write is
// flushed before it returns.
//
// Opened and closed by its owner's thread; Write may come from any thread
// while the log is open (a worker's reader and applier share one log), and
// each entry is written whole, never interleaved with another. Objects of the
// same name are independent streams appending to the same file.
class ActivityLog {
 public:
  using Clock = std::time_t (*)();

  // Longest name that fits the 100-byte file name buffer; longer names are
  // cut to this length.
  static constexpr size_t kMaxNameLength = 86;
  // Longest message; longer output is cut.
  static constexpr size_t kMaxMessageLength = 999;

  // `clock` supplies the time of each entry; null means the system clock.
  explicit ActivityLog(Clock clock = nullptr);
  ~ActivityLog();
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  // Opens "logs/acd_<name>.log" for appending (created when missing, the
  // folder never is). Writes nothing. False when the file cannot be opened.
  bool Open(const std::string& name);
  bool IsOpen() const { return file_ != nullptr; }
  // Appends one entry; does nothing while the log is not open.
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Close();

  // "logs/acd_" + name + ".log", the name cut to kMaxNameLength, with every
  // '/', every control character and a leading '.' of the name replaced by
  // '_', so that no name reaches outside "logs" or hides its file; any other
  // name (an address, a host name, 8-bit text) stays byte for byte.
  static std::string FileName(const std::string& name);
  // `text` with each control character written as \xNN, for a text from
  // outside (a configured name, a server's error text) inside a log line:
  // a line feed in it must not start a line of its own.
  static std::string Printable(std::string_view text);

 private:
  std::FILE* file_ = nullptr;
  // Serializes Write: the date banner and the entry go out together.
  std::mutex write_mutex_;
  std::string last_date_;
  const Clock clock_;
};

}  // namespace callsink
