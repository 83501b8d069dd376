#pragma once

#include <mysql.h>

namespace callsink {

// Owns one client library connection handle (MYSQL*) and closes it exactly
// once. Empty means "not connected". Movable, not copyable; used by one thread.
class MySqlConnection {
 public:
  MySqlConnection() = default;
  // Takes ownership of `handle` (may be null).
  explicit MySqlConnection(MYSQL* handle) : handle_(handle) {}
  ~MySqlConnection() { Close(); }
  MySqlConnection(const MySqlConnection&) = delete;
  MySqlConnection& operator=(const MySqlConnection&) = delete;
  MySqlConnection(MySqlConnection&& other) noexcept;
  MySqlConnection& operator=(MySqlConnection&& other) noexcept;

  MYSQL* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // mysql_close when a handle is held; the object is empty afterwards.
  void Close();

 private:
  MYSQL* handle_ = nullptr;
};

}  // namespace callsink
