#include "board/local_clock.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace callsink {
namespace {

std::tm Local(int64_t seconds) {
  const std::time_t moment = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

// The local midnight `days` days after the date of `seconds`; a midnight the
// clock skips is taken as the first moment after it.
int64_t Midnight(int64_t seconds, int days) {
  std::tm local = Local(seconds);
  local.tm_mday += days;
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&local));
}

}  // namespace

bool LocalClock::Use(const std::string& zone) {
  if (zone.empty()) {
    unsetenv("TZ");
  } else {
    // Only names inside the zone folder: no absolute paths, no way out.
    std::error_code unknown;
    if (zone.front() == '/' || zone.find("..") != std::string::npos ||
        !std::filesystem::is_regular_file(std::filesystem::path("/usr/share/zoneinfo") / zone,
                                          unknown)) {
      return false;
    }
    setenv("TZ", zone.c_str(), 1);
  }
  tzset();
  return true;
}

int64_t LocalClock::DayStart(int64_t seconds) { return Midnight(seconds, 0); }

int64_t LocalClock::DayEnd(int64_t seconds) { return Midnight(seconds, 1); }

std::string LocalClock::Text(int64_t seconds) {
  const std::tm local = Local(seconds);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace callsink
