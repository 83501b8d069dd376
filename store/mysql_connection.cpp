#include "store/mysql_connection.h"

#include <utility>

namespace callsink {

MySqlConnection::MySqlConnection(MySqlConnection&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

MySqlConnection& MySqlConnection::operator=(MySqlConnection&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void MySqlConnection::Close() {
  if (handle_ == nullptr) return;
  mysql_close(handle_);
  handle_ = nullptr;
}

}  // namespace callsink
