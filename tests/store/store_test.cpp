#include "tests/store/store_test.h"

#include <mysql.h>
#include <unistd.h>

#include <filesystem>

#include "store/mysql_result.h"
#include "tests/store/store_server.h"

namespace callsink::test {

void StoreTest::SetUp() {
  CALLSINK_REQUIRE_MARIADB(StoreServer::Get().env());
  previous_folder_ = std::filesystem::current_path();
  TempDir::MakeFolder(dir_ / "logs");
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  ASSERT_TRUE(log_.Open("store"));

  store_.SetStatementObserver(
      [this](std::string_view statement) { sent_.emplace_back(statement); });
  admin_ = ConnectAdmin();
  ASSERT_TRUE(admin_);
  Exec("drop database if exists acd_db");
  ForgetStatements();
}

void StoreTest::TearDown() {
  if (!previous_folder_.empty()) {
    ASSERT_EQ(chdir(previous_folder_.c_str()), 0);
  }
}

const MariaDbEnv& StoreTest::env() const { return *StoreServer::Get().env(); }

void StoreTest::ConnectStore() {
  ASSERT_TRUE(store_.Connect("localhost", env().admin_user, env().admin_password));
  ASSERT_TRUE(store_.CreateTables());
  Exec("use acd_db");
  ForgetStatements();
}

MySqlConnection StoreTest::ConnectAdmin(const char* character_set) {
  MySqlConnection admin(mysql_init(nullptr));
  mysql_options(admin.get(), MYSQL_SET_CHARSET_NAME, character_set);
  if (mysql_real_connect(admin.get(), "localhost", env().admin_user.c_str(),
                         env().admin_password.c_str(), nullptr, 0, nullptr, 0) == nullptr) {
    ADD_FAILURE() << "administrator connect: " << mysql_error(admin.get());
    return MySqlConnection();
  }
  mysql_query(admin.get(), "SET SESSION sql_log_off=1");
  mysql_select_db(admin.get(), "acd_db");
  return admin;
}

void StoreTest::Exec(const std::string& sql) {
  EXPECT_EQ(mysql_real_query(admin_.get(), sql.data(), sql.size()), 0)
      << sql << ": " << mysql_error(admin_.get());
}

std::vector<std::string> StoreTest::Rows(const std::string& sql) {
  std::vector<std::string> rows;
  if (mysql_real_query(admin_.get(), sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << sql << ": " << mysql_error(admin_.get());
    return rows;
  }
  const MySqlResult result(mysql_store_result(admin_.get()));
  if (!result) return rows;
  const unsigned int columns = mysql_num_fields(result.get());
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    std::string text;
    for (unsigned int i = 0; i < columns; ++i) {
      if (i > 0) text += '|';
      text += row[i] != nullptr ? std::string(row[i], lengths[i]) : "NULL";
    }
    rows.push_back(text);
  }
  return rows;
}

std::string StoreTest::Value(const std::string& sql) {
  const std::vector<std::string> rows = Rows(sql);
  return rows.empty() ? "" : rows.front();
}

std::vector<std::string> StoreTest::Statements() {
  return Rows("select argument from mysql.general_log where command_type='Query'");
}

std::vector<std::string> StoreTest::Commands() {
  return Rows("select concat(command_type, ': ', argument) from mysql.general_log");
}

void StoreTest::ForgetStatements() {
  Exec("truncate table mysql.general_log");
  sent_.clear();
}

std::vector<std::string> StoreTest::LogLines() {
  const std::string content = TempDir::ReadFile(dir_ / "logs/acd_store.log");
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = content.substr(start, end - start);
    // "HH:MM:SS: " precedes each message; the date lines start with dashes.
    if (line.starts_with("---")) continue;
    lines.push_back(line.substr(std::min(line.size(), size_t{10})));
  }
  return lines;
}

}  // namespace callsink::test
