#include "platform/system_paths.h"

#include <cstdlib>

namespace callsink {

std::string SystemPaths::Root() {
  const char* root = std::getenv("CALLSINK_ROOT");
  if (root == nullptr) return {};
  std::string prefix(root);
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  return prefix;
}

bool SystemPaths::IsRelocated() { return !Root().empty(); }

std::string SystemPaths::Resolve(const std::string& absolute_path) {
  return Root() + absolute_path;
}

std::string SystemPaths::RegistryFile() { return Resolve("/var/lib/callsink/registry.db"); }

std::string SystemPaths::SpoolDirectory() { return Resolve("/var/lib/callsink/spool"); }

std::string SystemPaths::RuntimeSpoolDirectory() { return Resolve("/run/callsink/spool"); }

std::string SystemPaths::UnitDirectory() { return Resolve("/etc/systemd/system"); }

std::string SystemPaths::PackageUnitDirectory() { return Resolve("/usr/lib/systemd/system"); }

std::string SystemPaths::RunDirectory() { return Resolve("/run"); }

}  // namespace callsink
