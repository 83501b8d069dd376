#include "board/board_bodies.h"

#include <algorithm>
#include <cstdio>

#include "board/board_filter.h"
#include "board/board_json.h"

namespace callsink {
namespace {

std::string EntityTag(const std::string& body) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : body) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  char tag[24];
  std::snprintf(tag, sizeof tag, "\"%016llx\"", static_cast<unsigned long long>(hash));
  return tag;
}

// The same key for the same choice in any order; no name holds a NUL.
std::string FilterKey(std::vector<std::string>* servers, std::vector<std::string>* groups) {
  std::string key;
  for (std::vector<std::string>* names : {servers, groups}) {
    std::sort(names->begin(), names->end());
    for (const std::string& name : *names) key += name + '\0';
    key += '\1';
  }
  return key;
}

}  // namespace

BoardBodies::BoardBodies(const SnapshotCache& cache, const BoardSettings& settings)
    : cache_(cache), settings_(settings) {}

std::shared_ptr<const BoardBodies::Body> BoardBodies::For(std::vector<std::string> servers,
                                                          std::vector<std::string> groups) {
  const std::string key = FilterKey(&servers, &groups);
  const SnapshotCache::Current current = cache_.Latest();
  // The database goes away between two snapshots and comes back with the
  // next one: this grows with every change a viewer can see.
  const uint64_t state = current.sequence * 2 + (current.database.reachable ? 0 : 1);
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (state == state_) {
      const auto found = bodies_.find(key);
      if (found != bodies_.end()) return found->second;
    }
  }
  // Rendered without the lock, so that viewers of other filters are not held
  // up; two viewers of one filter may both render it once.
  std::string json = BoardJson::Render(*current.snapshot, current.sequence, current.database,
                                       settings_, BoardFilter(servers, groups));
  std::string tag = EntityTag(json);
  auto body = std::make_shared<const Body>(Body{std::move(json), std::move(tag)});
  const std::lock_guard<std::mutex> hold(lock_);
  if (state > state_ || bodies_.size() >= kMostFilters) {
    bodies_.clear();
    state_ = state;
  }
  if (state == state_) bodies_.emplace(key, body);
  return body;
}

}  // namespace callsink
