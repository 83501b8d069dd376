#pragma once

#include <string>

namespace callsink {

// Fetches a metrics page over HTTP, for the tools. Any thread.
class MetricsClient {
 public:
  // How long a connect, and then the answer, may take.
  static constexpr int kTimeoutSeconds = 3;

  // GET http://host:port/metrics. True with the body in `page`; false with
  // the reason in `error` (no answer, or an answer other than 200).
  static bool Fetch(const std::string& host, int port, std::string* page, std::string* error);
};

}  // namespace callsink
