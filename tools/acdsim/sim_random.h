#pragma once

#include <cmath>
#include <cstdint>

namespace callsink::acdsim {

// A small deterministic generator (splitmix64): the same start gives the same
// numbers on every platform and library, which the standard distributions do
// not promise. The continuous draws go through the C library's log, exp and
// cos, so they repeat exactly on the same system. Not for anything secret.
class SimRandom {
 public:
  explicit SimRandom(uint64_t random_start) : state_(random_start) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); bound > 0. The bias of the modulo is far below
  // anything a simulation notices.
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
  // True with probability percent / 100.
  bool Percent(uint32_t percent) { return Below(100) < percent; }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Uniform in [low, high).
  double Between(double low, double high) { return low + (high - low) * Uniform(); }
  // Exponentially distributed with the given mean: the time to the next of
  // events that come at random at a steady rate.
  double Exponential(double mean) { return -mean * std::log(1.0 - Uniform()); }
  // Log-normal with the given mean and spread (the standard deviation of its
  // logarithm): most values near the median, a long tail of large ones.
  double LogNormal(double mean, double spread) {
    const double normal =
        std::sqrt(-2.0 * std::log(1.0 - Uniform())) * std::cos(2.0 * kPi * Uniform());
    return mean * std::exp(spread * normal - spread * spread / 2.0);
  }

 private:
  static constexpr double kPi = 3.14159265358979323846;
  uint64_t state_;
};

}  // namespace callsink::acdsim
