#include "tools/acdsim/day_profile.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace callsink::acdsim {
namespace {

constexpr uint32_t kSecondsPerHour = 3600;

}  // namespace

DayProfile::DayProfile(const std::array<double, kHours>& weights) : weights_(weights) {
  const double largest = *std::max_element(weights_.begin(), weights_.end());
  for (double& weight : weights_) weight /= largest;
}

DayProfile DayProfile::Standard() {
  return DayProfile({0.05, 0.03, 0.03, 0.03, 0.03, 0.05, 0.12, 0.35, 0.75, 0.95, 1.00, 0.95,
                     0.75, 0.80, 0.90, 0.85, 0.75, 0.55, 0.40, 0.30, 0.20, 0.15, 0.10, 0.07});
}

DayProfile DayProfile::Flat() {
  std::array<double, kHours> weights;
  weights.fill(1.0);
  return DayProfile(weights);
}

std::optional<DayProfile> DayProfile::Parse(std::string_view text) {
  if (text == "standard") return Standard();
  if (text == "flat") return Flat();
  std::array<double, kHours> weights{};
  size_t hour = 0;
  const char* position = text.data();
  const char* const end = text.data() + text.size();
  for (;;) {
    if (hour == kHours) return std::nullopt;
    double& weight = weights[hour++];
    const auto [next, failure] = std::from_chars(position, end, weight);
    if (failure != std::errc() || !std::isfinite(weight) || weight < 0) return std::nullopt;
    if (next == end) break;
    if (*next != ',') return std::nullopt;
    position = next + 1;
  }
  if (hour != kHours || *std::max_element(weights.begin(), weights.end()) <= 0) return std::nullopt;
  return DayProfile(weights);
}

double DayProfile::At(uint32_t second_of_day) const {
  const uint32_t hour = (second_of_day / kSecondsPerHour) % kHours;
  const double into_hour = static_cast<double>(second_of_day % kSecondsPerHour) / kSecondsPerHour;
  return weights_[hour] + (weights_[(hour + 1) % kHours] - weights_[hour]) * into_hour;
}

}  // namespace callsink::acdsim
