#pragma once

#include <mysql.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace callsink {

// Builds one SQL statement text from fixed pieces, quoted text values and
// decimal numbers. The buffer is kept from statement to statement, so once
// it has grown to the longest statement, building allocates nothing.
//
// Owned and used by one thread, together with the connection it escapes for.
class SqlStatement {
 public:
  SqlStatement();
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  // Empties the text. Text values that follow are escaped for `connection`
  // (its character set and SQL mode); it must be connected and stay valid
  // until the statement is sent.
  SqlStatement& Begin(MYSQL* connection);
  // Appends `piece` unchanged.
  SqlStatement& Add(std::string_view piece);
  // Appends `value` between double quotes, escaped with
  // mysql_real_escape_string: any bytes, quotes and backslashes included,
  // arrive at the server exactly as given.
  SqlStatement& Quoted(std::string_view value);
  // Appends `values` separated by ", ", each as its type asks: a text as
  // Quoted, a uint32_t as Unsigned, an int32_t as Signed.
  template <typename... Types>
  SqlStatement& ValueList(const Types&... values) {
    const char* separator = "";
    ((Add(separator).Value(values), separator = ", "), ...);
    return *this;
  }
  // Appends the decimal text of `value`: no sign, no leading zeros.
  SqlStatement& Unsigned(uint32_t value);
  // Appends the decimal text of `value`, with "-" when negative.
  SqlStatement& Signed(int32_t value);

  std::string_view text() const { return text_; }

 private:
  void Value(std::string_view text) { Quoted(text); }
  void Value(uint32_t number) { Unsigned(number); }
  void Value(int32_t number) { Signed(number); }

  std::string text_;
  MYSQL* connection_ = nullptr;
};

}  // namespace callsink
