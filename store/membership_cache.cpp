#include "store/membership_cache.h"

#include <algorithm>

namespace callsink {
namespace {

// Printable ASCII without a trailing blank compares byte for byte in every
// collation but for letter case.
bool ComparesPlainly(std::string_view name) {
  const bool printable =
      std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
  return printable && (name.empty() || name.back() != ' ');
}

std::string LowerCase(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

MembershipCache::Key MembershipCache::KeyOf(std::string_view group, std::string_view agent) {
  Key key;
  key.reserve(group.size() + 1 + agent.size());
  key.append(group).push_back('\0');
  key.append(agent);
  return key;
}

void MembershipCache::Invalidate() {
  memberships_.clear();
  groups_.clear();
  agents_.clear();
  loaded_ = false;
  exact_ = true;
  Keep();
}

void MembershipCache::Add(std::string_view group, std::string_view agent,
                          const Membership& membership) {
  memberships_[KeyOf(group, agent)] = membership;
  StandsInFor(group, agent);
}

void MembershipCache::Loaded() {
  loaded_ = true;
  Keep();
}

bool MembershipCache::Register(std::map<std::string, std::string>& names, std::string_view name) {
  if (!ComparesPlainly(name)) return false;
  const auto [known, inserted] = names.try_emplace(LowerCase(name), name);
  return inserted || known->second == name;
}

bool MembershipCache::StandsInFor(std::string_view group, std::string_view agent) {
  exact_ = exact_ && Register(groups_, group) && Register(agents_, agent);
  return exact_;
}

bool MembershipCache::StandsInForGroup(std::string_view group) {
  exact_ = exact_ && Register(groups_, group);
  return exact_;
}

OpenInterval MembershipCache::OpenIntervalOf(std::string_view group, std::string_view agent,
                                             uint32_t now, int32_t new_status) const {
  const auto found = memberships_.find(KeyOf(group, agent));
  if (found == memberships_.end()) return OpenInterval::Of(false, {}, {}, now, new_status);
  const Membership& row = found->second;
  return OpenInterval::Of(row.state == 1, row.timestamp, row.status, now, new_status);
}

MembershipCache::Membership& MembershipCache::Change(const Key& key) {
  const auto found = memberships_.find(key);
  undo_.emplace_back(
      key, found == memberships_.end() ? std::nullopt : std::optional<Membership>(found->second));
  return memberships_[key];
}

void MembershipCache::WriteMembership(std::string_view group, std::string_view agent,
                                      uint32_t timestamp, int32_t state) {
  Membership& row = Change(KeyOf(group, agent));
  row.timestamp = timestamp;
  row.state = state;
}

void MembershipCache::WriteGroupMemberships(std::string_view group, uint32_t timestamp,
                                            int32_t state) {
  const Key first = KeyOf(group, "");
  std::vector<Key> keys;
  for (auto it = memberships_.lower_bound(first);
       it != memberships_.end() && it->first.compare(0, first.size(), first) == 0; ++it) {
    keys.push_back(it->first);
  }
  for (const Key& key : keys) {
    Membership& row = Change(key);
    row.timestamp = timestamp;
    row.state = state;
  }
}

void MembershipCache::WriteStatus(std::string_view group, std::string_view agent,
                                  uint32_t timestamp, int32_t status) {
  Membership& row = Change(KeyOf(group, agent));
  row.status = status;
  row.timestamp = timestamp;
}

void MembershipCache::Clear() {
  if (!before_clear_) {
    before_clear_.emplace(std::move(memberships_));
    undo_clear_at_ = undo_.size();
  }
  memberships_.clear();
  groups_.clear();
  agents_.clear();
  exact_ = true;
}

void MembershipCache::Keep() {
  undo_.clear();
  before_clear_.reset();
}

void MembershipCache::Undo() {
  size_t undo_from = undo_.size();
  if (before_clear_) {
    memberships_ = std::move(*before_clear_);
    undo_from = undo_clear_at_;
  }
  for (size_t i = undo_from; i-- > 0;) {
    auto& [key, before] = undo_[i];
    if (before) {
      memberships_[key] = *before;
    } else {
      memberships_.erase(key);
    }
  }
  Keep();
  RegisterAll();
}

void MembershipCache::RegisterAll() {
  groups_.clear();
  agents_.clear();
  exact_ = true;
  for (const auto& [key, row] : memberships_) {
    const size_t nul = key.find('\0');
    if (!StandsInFor(std::string_view(key).substr(0, nul), std::string_view(key).substr(nul + 1))) {
      return;
    }
  }
}

}  // namespace callsink
