#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace callsink {

// A moment on a time zone's wall clock.
struct LocalTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;             // 0 Sunday to 6 Saturday
  int32_t offset_seconds = 0;  // east of UTC, daylight saving included
};

// An IANA time zone of the system's tzdata (/usr/share/zoneinfo), or the
// host's own. Conversions go through the C library under a process-wide
// lock that sets TZ for their duration and restores it after, so they are
// safe from any thread of ours; code elsewhere in the process that calls
// localtime at the same moment may see this zone.
class TimeZone {
 public:
  // The host's zone (/etc/localtime, or TZ when set).
  TimeZone() = default;
  // `name` such as "Europe/Berlin" or "UTC"; nothing when tzdata has no such
  // zone (the C library would silently take UTC for it).
  static std::optional<TimeZone> Named(const std::string& name);

  const std::string& name() const { return name_; }

  LocalTime ToLocal(int64_t seconds) const;
  // The local times of `count` moments `step` seconds apart from `first`,
  // in one conversion (the zone is loaded once).
  std::vector<LocalTime> ToLocal(int64_t first, int64_t step, size_t count) const;
  // The moment the wall clock shows `local` (its date and time; weekday and
  // offset are ignored). A time that the clock skips (spring forward) is
  // taken as after the change; one it shows twice, as the first.
  int64_t FromLocal(const LocalTime& local) const;

  // "2024-06-03T08:00:00+02:00".
  std::string Iso8601(int64_t seconds) const;

 private:
  explicit TimeZone(std::string name) : name_(std::move(name)) {}

  std::string name_;  // empty: the host's zone
};

}  // namespace callsink
