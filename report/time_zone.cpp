#include "report/time_zone.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace callsink {
namespace {

constexpr const char* kZoneFolder = "/usr/share/zoneinfo";

std::mutex& ZoneLock() {
  static std::mutex lock;
  return lock;
}

// Sets TZ to a zone for the life of the object, under the zone lock.
class ZoneScope {
 public:
  explicit ZoneScope(const std::string& name) : hold_(ZoneLock()) {
    const char* previous = std::getenv("TZ");
    if (previous != nullptr) previous_ = previous;
    if (!name.empty()) setenv("TZ", name.c_str(), 1);
    tzset();
  }
  ~ZoneScope() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  std::lock_guard<std::mutex> hold_;
  std::optional<std::string> previous_;
};

}  // namespace

std::optional<TimeZone> TimeZone::Named(const std::string& name) {
  // Only names of the zone folder: no absolute paths, no way out of it.
  if (name.empty() || name.front() == '/' || name.find("..") != std::string::npos ||
      name.find(',') != std::string::npos) {
    return std::nullopt;
  }
  std::error_code unknown;
  if (!std::filesystem::is_regular_file(std::filesystem::path(kZoneFolder) / name, unknown)) {
    return std::nullopt;
  }
  return TimeZone(name);
}

LocalTime TimeZone::ToLocal(int64_t seconds) const { return ToLocal(seconds, 0, 1).front(); }

std::vector<LocalTime> TimeZone::ToLocal(int64_t first, int64_t step, size_t count) const {
  const ZoneScope zone(name_);
  std::vector<LocalTime> times;
  times.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const time_t moment = static_cast<time_t>(first + static_cast<int64_t>(i) * step);
    tm fields{};
    localtime_r(&moment, &fields);
    times.push_back(LocalTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                              fields.tm_hour, fields.tm_min, fields.tm_sec, fields.tm_wday,
                              static_cast<int32_t>(fields.tm_gmtoff)});
  }
  return times;
}

int64_t TimeZone::FromLocal(const LocalTime& local) const {
  const ZoneScope zone(name_);
  tm fields{};
  fields.tm_year = local.year - 1900;
  fields.tm_mon = local.month - 1;
  fields.tm_mday = local.day;
  fields.tm_hour = local.hour;
  fields.tm_min = local.minute;
  fields.tm_sec = local.second;
  // Standard time first: a time shown twice is then the earlier moment, and
  // one skipped is normalised forward past the change.
  fields.tm_isdst = 0;
  tm retry = fields;
  time_t moment = mktime(&fields);
  retry.tm_isdst = 1;
  const time_t summer = mktime(&retry);
  // Both readings are valid around a change; the earlier one is the first
  // time the clock shows it.
  if (summer != -1 && summer < moment && retry.tm_hour == local.hour &&
      retry.tm_min == local.minute) {
    moment = summer;
  }
  return static_cast<int64_t>(moment);
}

std::string TimeZone::Iso8601(int64_t seconds) const {
  const LocalTime local = ToLocal(seconds);
  const int32_t offset = local.offset_seconds < 0 ? -local.offset_seconds : local.offset_seconds;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.year,
                local.month, local.day, local.hour, local.minute, local.second,
                local.offset_seconds < 0 ? '-' : '+', offset / 3600, offset / 60 % 60);
  return text;
}

}  // namespace callsink
