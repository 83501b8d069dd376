#pragma once

#include <string>

#include "platform/registry.h"

namespace callsink {

// Where the collector serves its metrics, from the configuration store: the
// value Endpoint of the key Metrics beside the Configs key, which the
// manager's rewrite of the Configs key leaves alone. Missing or empty: the
// default address; "off": no endpoint; otherwise HOST:PORT. The value
// WebConfig names a web configuration file (TLS, basic authentication);
// missing or empty: plain HTTP.
struct MetricsEndpointSetting {
  static constexpr const char* kKey = "Software\\Orvanta Technologies\\ACD Service\\Metrics";
  static constexpr const char* kValue = "Endpoint";
  static constexpr const char* kWebConfigValue = "WebConfig";
  static constexpr const char* kOff = "off";
  static constexpr const char* kDefaultHost = "127.0.0.1";
  static constexpr int kDefaultPort = 9661;

  enum class Mode { kServe, kOff, kInvalid };

  Mode mode = Mode::kServe;
  std::string host = kDefaultHost;
  int port = kDefaultPort;
  std::string text;        // the value as stored ("" when missing)
  std::string web_config;  // the web configuration file; "": none

  // Reads the setting from an open store.
  static MetricsEndpointSetting Read(Registry& registry);
  // Takes the value's text; "" stands for a missing value.
  static MetricsEndpointSetting FromText(const std::string& text);

  // "HOST:PORT", for messages.
  std::string Address() const { return host + ":" + std::to_string(port); }
};

}  // namespace callsink
