#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

namespace callsink {

// Checks the credentials of an HTTP Authorization header ("Basic ...")
// against users with bcrypt hashes. A bcrypt check costs tens of
// milliseconds by design; each successful one is remembered (as a SHA-256
// digest of user, password and hash, never the password itself), so that a
// scraper sending the same credentials costs a lookup from then on. Failed
// checks are never remembered. Any thread.
class BasicAuth {
 public:
  // The remembered checks are forgotten past this many.
  static constexpr size_t kCacheLimit = 1024;

  // `users`: user -> bcrypt hash; empty: every request is allowed.
  explicit BasicAuth(std::map<std::string, std::string> users);
  BasicAuth(const BasicAuth&) = delete;
  BasicAuth& operator=(const BasicAuth&) = delete;

  bool required() const { return !users_.empty(); }
  // True when no user is configured, or `authorization` names one with the
  // right password.
  bool Allows(const std::string& authorization);
  // bcrypt checks run so far (the cache's misses).
  size_t hash_checks() const;

 private:
  const std::map<std::string, std::string> users_;
  mutable std::mutex mutex_;
  std::set<std::string> remembered_;  // digests of successful checks
  size_t hash_checks_ = 0;
};

}  // namespace callsink
