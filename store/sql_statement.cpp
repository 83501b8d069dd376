#include "store/sql_statement.h"

#include <charconv>

namespace callsink {
namespace {

// Longer than any statement of the store with names of protocol length, so
// the buffer is allocated once per store.
constexpr size_t kInitialCapacity = 1024;

template <typename Integer>
void AppendDecimal(std::string& text, Integer value) {
  char digits[16];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, end.ptr);
}

}  // namespace

SqlStatement::SqlStatement() { text_.reserve(kInitialCapacity); }

SqlStatement& SqlStatement::Begin(MYSQL* connection) {
  connection_ = connection;
  text_.clear();
  return *this;
}

SqlStatement& SqlStatement::Add(std::string_view piece) {
  text_.append(piece);
  return *this;
}

SqlStatement& SqlStatement::Quoted(std::string_view value) {
  text_.push_back('"');
  const size_t start = text_.size();
  // The escaped text takes at most two bytes per byte, plus the terminating
  // NUL the library writes; with that room the escaping cannot fail.
  text_.resize(start + 2 * value.size() + 1);
  const unsigned long written =
      mysql_real_escape_string(connection_, text_.data() + start, value.data(), value.size());
  text_.resize(start + written);
  text_.push_back('"');
  return *this;
}

SqlStatement& SqlStatement::Unsigned(uint32_t value) {
  AppendDecimal(text_, value);
  return *this;
}

SqlStatement& SqlStatement::Signed(int32_t value) {
  AppendDecimal(text_, value);
  return *this;
}

}  // namespace callsink
