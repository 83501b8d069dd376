#pragma once

#include <string>
#include <string_view>

#include "tools/acdsim/call_centre.h"

namespace callsink::acdsim {

// Reads a call centre from a scenario file (format in README.md beside this
// file): one statement per line,
//   group NAME
//   agent NAME FULL_NAME
//   member GROUP AGENT [STATUS]
// with '#' comments and double quotes around words holding blanks.
class ScenarioFile {
 public:
  // Adds the statements of `text` to `centre`. On failure returns false with
  // "line N: reason" in `error`; `centre` may then hold the lines before.
  static bool Parse(std::string_view text, CallCentre* centre, std::string* error);
  // Parse on the contents of the file at `path`.
  static bool Load(const std::string& path, CallCentre* centre, std::string* error);
};

}  // namespace callsink::acdsim
