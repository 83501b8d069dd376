#include "board/snapshot_cache.h"

#include <pthread.h>

#include <cstdio>
#include <ctime>

namespace callsink {

SnapshotCache::SnapshotCache(const BoardSettings& settings, std::chrono::milliseconds interval)
    : query_(settings), interval_(interval) {
  current_.snapshot = std::make_shared<const BoardSnapshot>();
}

SnapshotCache::~SnapshotCache() { Stop(); }

void SnapshotCache::Start() {
  Refresh();
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> hold(lock_);
    // A fixed rhythm: a slow refresh does not push the next one back.
    auto next = std::chrono::steady_clock::now() + interval_;
    while (!stop_signal_.wait_until(hold, next, [this] { return stopping_; })) {
      hold.unlock();
      Refresh();
      hold.lock();
      next = std::max(next + interval_, std::chrono::steady_clock::now());
    }
  });
  pthread_setname_np(thread_.native_handle(), "snapshot");
}

void SnapshotCache::Stop() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  stop_signal_.notify_all();
  if (thread_.joinable()) thread_.join();
}

SnapshotCache::Current SnapshotCache::Latest() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return current_;
}

void SnapshotCache::Refresh() {
  std::string error;
  std::optional<BoardSnapshot> taken = query_.Take(std::nullopt, &error);
  const std::lock_guard<std::mutex> hold(lock_);
  if (taken) {
    if (!current_.database.reachable)
      std::fprintf(stderr, "callsinkboard: database reachable again\n");
    current_.snapshot = std::make_shared<const BoardSnapshot>(std::move(*taken));
    ++current_.sequence;
    current_.database = DatabaseState{};
    return;
  }
  if (current_.database.reachable) {
    current_.database = {false, static_cast<int64_t>(std::time(nullptr))};
    std::fprintf(stderr, "callsinkboard: database unreachable: %s\n", error.c_str());
  }
}

}  // namespace callsink
