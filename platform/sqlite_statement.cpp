#include "platform/sqlite_statement.h"

#include <sqlite3.h>

namespace callsink {

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

void SqliteStatement::Bind(int index, const std::string& text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::Bind(int index, int value) { sqlite3_bind_int(stmt_, index, value); }

bool SqliteStatement::NextRow() {
  if (stmt_ == nullptr) return false;
  last_ = sqlite3_step(stmt_);
  return last_ == SQLITE_ROW;
}

bool SqliteStatement::Run() {
  if (stmt_ == nullptr) return false;
  do {
    last_ = sqlite3_step(stmt_);
  } while (last_ == SQLITE_ROW);
  return last_ == SQLITE_DONE;
}

bool SqliteStatement::failed() const {
  return stmt_ == nullptr || (last_ != SQLITE_OK && last_ != SQLITE_ROW && last_ != SQLITE_DONE);
}

std::string SqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

int SqliteStatement::Int(int column) const { return sqlite3_column_int(stmt_, column); }

}  // namespace callsink
