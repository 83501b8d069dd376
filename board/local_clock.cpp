#include "board/local_clock.h"

#include <cstdio>
#include <optional>

#include "report/time_zone.h"

namespace callsink {
namespace {

// Set once by Use, before any other thread runs. Conversions go through the
// report engine's TimeZone, whose lock they share with the report page's.
TimeZone& Zone() {
  static TimeZone zone;
  return zone;
}

// The local midnight `days` days after the date of `seconds`; a midnight the
// clock skips is taken as the first moment after it.
int64_t Midnight(int64_t seconds, int days) {
  LocalTime local = Zone().ToLocal(seconds);
  local.day += days;
  local.hour = 0;
  local.minute = 0;
  local.second = 0;
  return Zone().FromLocal(local);
}

}  // namespace

bool LocalClock::Use(const std::string& zone) {
  if (zone.empty()) {
    Zone() = TimeZone();
    return true;
  }
  const std::optional<TimeZone> named = TimeZone::Named(zone);
  if (!named) return false;
  Zone() = *named;
  return true;
}

int64_t LocalClock::DayStart(int64_t seconds) { return Midnight(seconds, 0); }

int64_t LocalClock::DayEnd(int64_t seconds) { return Midnight(seconds, 1); }

std::string LocalClock::Text(int64_t seconds) {
  const LocalTime local = Zone().ToLocal(seconds);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.hour, local.minute, local.second);
  return text;
}

}  // namespace callsink
