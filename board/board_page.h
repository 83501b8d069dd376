#pragma once

#include <string_view>

namespace callsink {

// The wallboard's page, style and script (board/assets/), built into the
// program so that the page needs nothing from anywhere else.
class BoardPage {
 public:
  static std::string_view Html();
  static std::string_view Css();
  static std::string_view Script();
};

}  // namespace callsink
