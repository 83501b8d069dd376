#pragma once

struct sqlite3;

namespace callsink {

// Owns one SQLite connection handle (sqlite3*) and closes it exactly once.
// Empty means "not open". Movable, not copyable; used by one thread.
class SqliteConnection {
 public:
  SqliteConnection() = default;
  // Takes ownership of `handle` (may be null).
  explicit SqliteConnection(sqlite3* handle) : handle_(handle) {}
  ~SqliteConnection() { Close(); }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;
  SqliteConnection(SqliteConnection&& other) noexcept;
  SqliteConnection& operator=(SqliteConnection&& other) noexcept;

  sqlite3* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // sqlite3_close when a handle is held; the object is empty afterwards.
  void Close();

 private:
  sqlite3* handle_ = nullptr;
};

}  // namespace callsink
