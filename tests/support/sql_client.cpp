#include "tests/support/sql_client.h"

#include <gtest/gtest.h>

#include "store/mysql_result.h"

namespace callsink::test {

SqlClient::SqlClient(const MariaDbEnv& env) : connection_(mysql_init(nullptr)) {
  mysql_options(connection_.get(), MYSQL_SET_CHARSET_NAME, "latin1");
  const bool tcp = env.socket.empty();
  if (mysql_real_connect(connection_.get(), tcp ? env.host.c_str() : "localhost",
                         env.admin_user.c_str(), env.admin_password.c_str(), nullptr,
                         tcp ? static_cast<unsigned int>(env.port) : 0,
                         tcp ? nullptr : env.socket.c_str(), 0) == nullptr) {
    ADD_FAILURE() << "cannot connect to the test server: " << mysql_error(connection_.get());
    connection_.Close();
  }
}

bool SqlClient::Exec(const std::string& sql) {
  if (!connection_) return false;
  if (mysql_real_query(connection_.get(), sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << sql << ": " << mysql_error(connection_.get());
    return false;
  }
  MySqlResult discard(mysql_store_result(connection_.get()));
  return true;
}

std::vector<std::string> SqlClient::Rows(const std::string& sql) {
  std::vector<std::string> rows;
  if (!connection_) return rows;
  if (mysql_real_query(connection_.get(), sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << sql << ": " << mysql_error(connection_.get());
    return rows;
  }
  MySqlResult result(mysql_store_result(connection_.get()));
  if (!result) return rows;
  const unsigned int columns = mysql_num_fields(result.get());
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    std::string line;
    for (unsigned int i = 0; i < columns; ++i) {
      if (i > 0) line += '|';
      line += row[i] == nullptr ? std::string("NULL") : std::string(row[i], lengths[i]);
    }
    rows.push_back(std::move(line));
  }
  return rows;
}

std::string SqlClient::Value(const std::string& sql) {
  const std::vector<std::string> rows = Rows(sql);
  if (rows.empty()) return {};
  return rows.front().substr(0, rows.front().find('|'));
}

}  // namespace callsink::test
