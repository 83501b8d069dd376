#pragma once

#include <ctime>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "config/config_row.h"
#include "config/metrics_endpoint_setting.h"

namespace callsink {

class ScrapedMetrics;

// The health block of `callsinkctl status`: per configuration the state,
// the age of the last message, events per minute, rows written and the
// journal's backlog and lag, read from the running collector's metrics
// endpoint; or one line saying plainly why there are none.
class CollectorHealth {
 public:
  // Writes the block for `configs` (numbered from 1 in order). `running`
  // says whether the collector runs, `setting` where it serves (none: there
  // is no configuration store, so it serves nothing); the endpoint is
  // fetched only when both allow.
  static void Write(std::ostream& out, const std::vector<ConfigRow>& configs, bool running,
                    const std::optional<MetricsEndpointSetting>& setting);

  // The line of configuration `number` from a page fetched at `now`.
  static std::string ConfigLine(const ScrapedMetrics& metrics, int number, std::time_t now);
};

}  // namespace callsink
