#pragma once

#include <string>
#include <vector>

namespace callsink::test {

// A private syslog socket: binds a datagram socket at `path` and collects
// what arrives there. Owned by one test thread.
class SyslogSink {
 public:
  explicit SyslogSink(std::string path);
  ~SyslogSink();
  SyslogSink(const SyslogSink&) = delete;
  SyslogSink& operator=(const SyslogSink&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Every datagram received so far, oldest first.
  const std::vector<std::string>& Records();
  // Waits up to `timeout_ms` for a record that contains `text`.
  bool WaitFor(const std::string& text, int timeout_ms);
  // How many records received so far contain `text`.
  int Count(const std::string& text);

 private:
  void Drain();

  const std::string path_;
  int fd_ = -1;
  std::vector<std::string> records_;
};

}  // namespace callsink::test
