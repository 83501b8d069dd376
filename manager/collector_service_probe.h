#pragma once

#include "manager/service_probe.h"
#include "service/service.h"

namespace callsink {

// Asks the collector's service backend for this host (systemd, or the
// standalone launcher) whether the collector's service runs.
class CollectorServiceProbe : public ServiceProbe {
 public:
  CollectorServiceProbe();
  bool IsServiceRunning() override;

 private:
  Service service_;
};

}  // namespace callsink
