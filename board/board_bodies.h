#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/board_settings.h"
#include "board/snapshot_cache.h"

namespace callsink {

// The JSON bodies of /api/board with their ETags, rendered once per
// snapshot and filter however many viewers ask for them. Any thread.
class BoardBodies {
 public:
  struct Body {
    std::string json;
    std::string tag;  // a strong entity tag, quotes included
  };

  // `cache` must outlive the object.
  BoardBodies(const SnapshotCache& cache, const BoardSettings& settings);

  // The latest snapshot's body for the viewers of these servers and groups
  // (empty lists: all of them).
  std::shared_ptr<const Body> For(std::vector<std::string> servers,
                                  std::vector<std::string> groups);

 private:
  // Filters seen within one snapshot; past this many they are forgotten.
  static constexpr size_t kMostFilters = 256;

  const SnapshotCache& cache_;
  const BoardSettings settings_;
  std::mutex lock_;
  uint64_t state_ = 0;  // of the snapshot and database the bodies were made of
  std::map<std::string, std::shared_ptr<const Body>> bodies_;  // by filter
};

}  // namespace callsink
