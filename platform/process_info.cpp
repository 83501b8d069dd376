#include "platform/process_info.h"

#include <limits.h>
#include <unistd.h>

namespace callsink {

std::string ProcessInfo::ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<size_t>(length));
}

std::string ProcessInfo::ExecutableFolder() {
  const std::string path = ExecutablePath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

bool ProcessInfo::SetCurrentDirectory(const std::string& folder) {
  return !folder.empty() && chdir(folder.c_str()) == 0;
}

}  // namespace callsink
