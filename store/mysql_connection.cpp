#include "store/mysql_connection.h"

#include <string_view>
#include <utility>

namespace callsink {
namespace {

// Every statement quotes its text values with double quotes and escapes
// them with backslashes, which two of the server's SQL modes break:
// NO_BACKSLASH_ESCAPES lets a double quote in a value end it, ANSI_QUOTES
// makes the value a column name. The session drops just these two and keeps
// every other mode the server was given. One statement, whatever the modes
// are, so the set-up costs the same on every server.
constexpr std::string_view kQuotingModes =
    "SET SESSION sql_mode = TRIM(BOTH ',' FROM REPLACE(REPLACE(CONCAT(',', @@SESSION.sql_mode, "
    "','), ',NO_BACKSLASH_ESCAPES,', ','), ',ANSI_QUOTES,', ','))";

}  // namespace

MySqlConnection::MySqlConnection(MySqlConnection&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

MySqlConnection& MySqlConnection::operator=(MySqlConnection&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

bool MySqlConnection::Open(const std::string& host, const std::string& user,
                           const std::string& password, const MySqlTimeouts& timeouts) {
  *this = MySqlConnection(mysql_init(nullptr));
  if (handle_ == nullptr) return false;
  mysql_options(handle_, MYSQL_SET_CHARSET_NAME, kCharacterSet);
  mysql_options(handle_, MYSQL_OPT_CONNECT_TIMEOUT, &timeouts.connect_seconds);
  mysql_options(handle_, MYSQL_OPT_READ_TIMEOUT, &timeouts.read_seconds);
  mysql_options(handle_, MYSQL_OPT_WRITE_TIMEOUT, &timeouts.write_seconds);
  // A lost connection must stay lost: its owner notices it at the next call
  // and decides itself whether and when to connect again.
  const my_bool reconnect = 0;
  mysql_options(handle_, MYSQL_OPT_RECONNECT, &reconnect);
  return mysql_real_connect(handle_, host.c_str(), user.c_str(), password.c_str(), "", 0, nullptr,
                            0) != nullptr &&
         mysql_real_query(handle_, kQuotingModes.data(), kQuotingModes.size()) == 0;
}

void MySqlConnection::Close() {
  if (handle_ == nullptr) return;
  mysql_close(handle_);
  handle_ = nullptr;
}

}  // namespace callsink
