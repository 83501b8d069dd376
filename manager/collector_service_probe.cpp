#include "manager/collector_service_probe.h"

#include "service/collector_service_names.h"

namespace callsink {

CollectorServiceProbe::CollectorServiceProbe()
    : service_(CollectorServiceNames::kName, CollectorServiceNames::kDisplayName,
               CollectorServiceNames::kDescription) {}

bool CollectorServiceProbe::IsServiceRunning() { return service_.IsRunning(); }

}  // namespace callsink
