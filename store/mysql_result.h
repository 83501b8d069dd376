#pragma once

#include <mysql.h>

namespace callsink {

// Owns one result set (MYSQL_RES*) of the client library and frees it exactly
// once. Empty when the call that should have made it gave none. Not copyable;
// used by the thread that owns the connection it came from, and released
// before that connection is closed.
class MySqlResult {
 public:
  // Takes ownership of `result` (may be null).
  explicit MySqlResult(MYSQL_RES* result) : result_(result) {}
  ~MySqlResult();
  MySqlResult(const MySqlResult&) = delete;
  MySqlResult& operator=(const MySqlResult&) = delete;

  MYSQL_RES* get() const { return result_; }
  explicit operator bool() const { return result_ != nullptr; }

 private:
  MYSQL_RES* const result_;
};

}  // namespace callsink
