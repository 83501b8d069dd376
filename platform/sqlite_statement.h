#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace callsink {

// Owns one prepared SQLite statement; finalized exactly once, in the
// destructor. Used on the thread that owns the connection.
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  // Binds text parameter `index` (1-based); the text is copied.
  void Bind(int index, const std::string& text);
  void Bind(int index, int value);
  // Steps once: true while a row is available.
  bool NextRow();
  // Steps to completion; true when the statement finished without error.
  bool Run();
  // Whether preparing or the last step failed (as opposed to running out
  // of rows).
  bool failed() const;
  std::string Text(int column) const;
  int Int(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int last_ = 0;
};

}  // namespace callsink
