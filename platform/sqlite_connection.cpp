#include "platform/sqlite_connection.h"

#include <sqlite3.h>

#include <utility>

namespace callsink {

SqliteConnection::SqliteConnection(SqliteConnection&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void SqliteConnection::Close() {
  // Every statement is finalized by its owner first, so the plain close
  // always succeeds.
  sqlite3_close(std::exchange(handle_, nullptr));
}

}  // namespace callsink
