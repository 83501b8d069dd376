#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "board/board_json.h"
#include "board/board_snapshot.h"
#include "board/snapshot_query.h"

namespace callsink {

// The one snapshot every viewer is served: a thread of its own ("snapshot")
// takes it once per refresh interval, however many viewers ask, and the
// HTTP threads only read the latest. When a refresh fails, the last
// snapshot stays and the state says since when the database is away.
class SnapshotCache {
 public:
  struct Current {
    std::shared_ptr<const BoardSnapshot> snapshot;  // never null
    uint64_t sequence = 0;                          // snapshots taken so far
    DatabaseState database;
  };

  SnapshotCache(const BoardSettings& settings, std::chrono::milliseconds interval);
  ~SnapshotCache();
  SnapshotCache(const SnapshotCache&) = delete;
  SnapshotCache& operator=(const SnapshotCache&) = delete;

  // Takes the first snapshot, then starts the thread. Call once.
  void Start();
  // Ends the thread (after a refresh under way). Also done by the destructor.
  void Stop();

  // Any thread.
  Current Latest() const;

 private:
  void Refresh();

  SnapshotQuery query_;  // the snapshot thread's alone
  const std::chrono::milliseconds interval_;
  mutable std::mutex lock_;
  std::condition_variable stop_signal_;
  bool stopping_ = false;
  Current current_;
  std::thread thread_;
};

}  // namespace callsink
