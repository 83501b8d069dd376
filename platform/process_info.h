#pragma once

#include <string>

namespace callsink {

// Facts about the running process. Any thread may call these.
class ProcessInfo {
 public:
  // Full path of the running executable; empty when it cannot be read.
  static std::string ExecutablePath();
  // Folder of the running executable, with a trailing '/'; empty on failure.
  static std::string ExecutableFolder();
  // Makes `folder` the current directory; false on failure.
  static bool SetCurrentDirectory(const std::string& folder);
};

}  // namespace callsink
