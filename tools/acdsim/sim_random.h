#pragma once

#include <cstdint>

namespace callsink::acdsim {

// A small deterministic generator (splitmix64): the same start gives the same
// numbers on every platform and library, which the standard distributions do
// not promise. Not for anything secret.
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

 private:
  uint64_t state_;
};

}  // namespace callsink::acdsim
