#include "health/metrics_endpoint.h"

#include <utility>

#include "health/metrics_text.h"

namespace callsink {

MetricsEndpoint::MetricsEndpoint(PageSource source, std::string web_config, WebServer::Log log)
    : server_(WebSite{"callsink",
                      CALLSINK_VERSION,
                      {{"/metrics", "Metrics", MetricsText::kContentType, std::move(source), {}}}},
              std::move(web_config), std::move(log)) {}

}  // namespace callsink
