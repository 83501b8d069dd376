#pragma once

#include <string_view>

namespace callsink {

// The wallboard's page, style and script, and the report page and its
// script (board/assets/), built into the program so that the pages need
// nothing from anywhere else.
class BoardPage {
 public:
  static std::string_view Html();
  static std::string_view Css();
  static std::string_view Script();
  static std::string_view ReportsHtml();
  static std::string_view ReportsScript();
};

}  // namespace callsink
