#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace callsink::acdsim {

// How busy a call centre is over the day: a weight for each full hour of the
// local day, 1 at the busiest hour, changing linearly from one hour to the
// next. The model takes both the calls that come in and the agents on duty
// from it. A value type.
class DayProfile {
 public:
  static constexpr size_t kHours = 24;

  // An office-hours centre: quiet at night, busy from eight, the peak at ten,
  // a dip at lunch, a second peak at two, quieter from five.
  static DayProfile Standard();
  // The same all day.
  static DayProfile Flat();
  // "standard", "flat", or 24 comma-separated weights for 00:00 to 23:00,
  // none negative, not all zero; they are scaled so that the largest is 1.
  // Nullopt for anything else.
  static std::optional<DayProfile> Parse(std::string_view text);

  // The weight at `second_of_day` (0 to 86399), between 0 and 1.
  double At(uint32_t second_of_day) const;

 private:
  explicit DayProfile(const std::array<double, kHours>& weights);

  std::array<double, kHours> weights_;
};

}  // namespace callsink::acdsim
