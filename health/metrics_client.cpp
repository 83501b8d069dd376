#include "health/metrics_client.h"

#include <httplib.h>

namespace callsink {

bool MetricsClient::Fetch(const std::string& host, int port, std::string* page,
                          std::string* error) {
  httplib::Client client(host, port);
  client.set_connection_timeout(kTimeoutSeconds);
  client.set_read_timeout(kTimeoutSeconds);
  const httplib::Result result = client.Get("/metrics");
  if (!result) {
    *error = httplib::to_string(result.error());
    return false;
  }
  if (result->status != 200) {
    *error = "HTTP status " + std::to_string(result->status);
    return false;
  }
  *page = result->body;
  return true;
}

}  // namespace callsink
