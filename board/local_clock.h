#pragma once

#include <cstdint>
#include <string>

namespace callsink {

// The board's wall clock: one time zone of the system's tzdata, which Use
// sets once at the start (before any other thread runs), read through the
// report engine's TimeZone, so that the snapshot and the report page never
// change the process's zone under each other.
class LocalClock {
 public:
  // Makes `zone` (an IANA name of /usr/share/zoneinfo, or "" for the host's
  // zone) the process's zone. False, and nothing changed, for a name tzdata
  // does not hold (the C library would silently take UTC for it).
  static bool Use(const std::string& zone);

  // The local midnight that begins the day holding `seconds` (since 1970),
  // and the one that ends it: 23 or 25 hours later on a daylight-saving day.
  static int64_t DayStart(int64_t seconds);
  static int64_t DayEnd(int64_t seconds);
  // "HH:MM:SS" on the local clock.
  static std::string Text(int64_t seconds);
};

}  // namespace callsink
