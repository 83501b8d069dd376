#pragma once

#include <string>

namespace callsink {

// Fetches a metrics page, for the tools. Any thread.
class MetricsClient {
 public:
  // How long a connect, and then the answer, may take.
  static constexpr int kTimeoutSeconds = 3;

  // GET http://host:port/metrics. True with the body in `page`; false with
  // the reason in `error` (no answer, or an answer other than 200).
  static bool Fetch(const std::string& host, int port, std::string* page, std::string* error);
  // The same from an endpoint that serves as the web configuration file
  // `web_config` says ("": plain HTTP): over TLS when it names a
  // certificate, which must then be the one the endpoint presents (it is
  // trusted as it is, and must name `host`). An endpoint that asks for a
  // password or a client certificate gives no page; `error` says so.
  static bool Fetch(const std::string& host, int port, const std::string& web_config,
                    std::string* page, std::string* error);
  // The page's address at `address` (HOST:PORT): https when `web_config`
  // names a certificate.
  static std::string Url(const std::string& address, const std::string& web_config);
};

}  // namespace callsink
