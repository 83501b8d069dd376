#include "manager/collector_service_probe.h"

namespace callsink {

CollectorServiceProbe::CollectorServiceProbe()
    : service_(kServiceName, kServiceName, "Collects ACD call and status statistics") {}

bool CollectorServiceProbe::IsServiceRunning() { return service_.IsRunning(); }

}  // namespace callsink
