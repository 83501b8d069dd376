#include "manager/collector_service_probe.h"

#include "collector/call_sink.h"

namespace callsink {

CollectorServiceProbe::CollectorServiceProbe()
    : service_(CallSink::kServiceName, CallSink::kDisplayName, CallSink::kDescription) {}

bool CollectorServiceProbe::IsServiceRunning() { return service_.IsRunning(); }

}  // namespace callsink
