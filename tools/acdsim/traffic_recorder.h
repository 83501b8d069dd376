#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace callsink::acdsim {

// The --record file: one line per message, requests received ("in"),
// messages sent ("out") and events that no connection received ("missed"):
//   TIME PORT CONNECTION DIRECTION CLASS TYPE REQUEST HEX
// TIME is the wall clock as seconds.microseconds since 1970; PORT the
// listener's port; CONNECTION the connection's number (from 1, per
// process), 0 on a missed event; CLASS, TYPE and REQUEST come from the
// message's header, in decimal; HEX is every byte of the message as sent or
// received, lower-case (a missed event as it would have been sent, before
// any fault).
//
// Lines are buffered and written out by Flush (the simulator flushes after
// every round of its loop). Used by the simulator's one thread.
class TrafficRecorder {
 public:
  enum class Direction { kIn, kOut, kMissed };

  TrafficRecorder() = default;
  ~TrafficRecorder();
  TrafficRecorder(const TrafficRecorder&) = delete;
  TrafficRecorder& operator=(const TrafficRecorder&) = delete;

  // Creates or truncates the file. False when it cannot be opened.
  bool Open(const std::string& path);
  // `message` holds at least a whole header.
  void Record(uint16_t port, uint64_t connection, Direction direction,
              std::span<const uint8_t> message);
  void Flush();

 private:
  std::FILE* file_ = nullptr;
  std::string line_;
};

}  // namespace callsink::acdsim
