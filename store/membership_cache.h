#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/open_interval.h"

namespace callsink {

// What stock_relations holds for one ACD server's memberships, as far as
// the interval rule reads it (Timestamp, Status, State), kept in memory so
// that a status event needs no select. It follows every statement that
// changes those columns (the membership writes of both forms, the status
// write, the directory clear) and is loaded from the table whenever the
// applier cannot be sure it still agrees.
//
// The table compares names by its collation, the cache byte by byte. The
// two agree for names of printable ASCII without a trailing blank when no
// two names of a column differ in letter case only; for any other name the
// cache does not stand in for the table, and the caller asks the table.
//
// Changes since the last Keep can be undone (a batch rolled back). Used by
// the applier's thread.
class MembershipCache {
 public:
  struct Membership {
    std::optional<uint32_t> timestamp;
    std::optional<int32_t> status;
    std::optional<int32_t> state;
  };

  // Empties the cache and notes that it must be loaded before it is used.
  void Invalidate();
  bool loaded() const { return loaded_; }
  // False once the cache holds a name it cannot answer for.
  bool exact() const { return exact_; }
  // Fills an invalidated cache: each row of the table, then Loaded.
  void Add(std::string_view group, std::string_view agent, const Membership& membership);
  void Loaded();
  size_t size() const { return memberships_.size(); }

  // True when the cache answers for these names as the table would; false
  // for every name once it holds one it cannot answer for.
  bool StandsInFor(std::string_view group, std::string_view agent);
  bool StandsInForGroup(std::string_view group);

  // The interval rule's view of the membership at `now`.
  OpenInterval OpenIntervalOf(std::string_view group, std::string_view agent, uint32_t now,
                              int32_t new_status) const;

  // The statements' effects.
  void WriteMembership(std::string_view group, std::string_view agent, uint32_t timestamp,
                       int32_t state);
  void WriteGroupMemberships(std::string_view group, uint32_t timestamp, int32_t state);
  void WriteStatus(std::string_view group, std::string_view agent, uint32_t timestamp,
                   int32_t status);
  void Clear();

  // Makes the changes so far stand; Undo goes back to here.
  void Keep();
  void Undo();

 private:
  using Key = std::string;  // group, NUL, agent: names hold no NUL
  static Key KeyOf(std::string_view group, std::string_view agent);
  // Registers `name` of a column; false when the cache cannot answer for it.
  static bool Register(std::map<std::string, std::string>& names, std::string_view name);
  Membership& Change(const Key& key);
  void RegisterAll();

  std::map<Key, Membership> memberships_;
  // Per column: each name in lower case -> the name as written.
  std::map<std::string, std::string> groups_;
  std::map<std::string, std::string> agents_;
  bool loaded_ = false;
  bool exact_ = true;

  // Undo: each changed key's value before its first change (empty: absent),
  // and the whole cache as it was before a Clear.
  std::vector<std::pair<Key, std::optional<Membership>>> undo_;
  std::optional<std::map<Key, Membership>> before_clear_;
  size_t undo_clear_at_ = 0;
};

}  // namespace callsink
