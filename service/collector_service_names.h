#pragma once

namespace callsink {

// The names the collector's service goes by: the service manager's and the
// event log's name, the name shown to administrators, and the unit's
// description. The collector runs under them; the manager and callsinkctl
// look the service up by them.
struct CollectorServiceNames {
  static constexpr const char* kName = "ACD Service";
  static constexpr const char* kDisplayName = "ACD Service";
  static constexpr const char* kDescription = "Collects ACD call and status statistics";
};

}  // namespace callsink
