#pragma once

#include <string>

namespace callsink {

// Every system path the programs use goes through here, so that CALLSINK_ROOT
// (unset = "/") can move them all below a test folder.
class SystemPaths {
 public:
  // The prefix from CALLSINK_ROOT without a trailing slash; empty when unset.
  static std::string Root();
  // True when CALLSINK_ROOT is set to a non-empty folder.
  static bool IsRelocated();
  // Root() + absolute_path.
  static std::string Resolve(const std::string& absolute_path);

  static std::string RegistryFile();           // /var/lib/callsink/registry.db
  static std::string SpoolDirectory();         // /var/lib/callsink/spool
  static std::string RuntimeSpoolDirectory();  // /run/callsink/spool
  static std::string UnitDirectory();          // /etc/systemd/system
  static std::string PackageUnitDirectory();   // /usr/lib/systemd/system
  static std::string RunDirectory();           // /run
};

}  // namespace callsink
