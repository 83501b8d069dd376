#include "config/metrics_endpoint_setting.h"

#include <algorithm>
#include <cctype>

namespace callsink {

MetricsEndpointSetting MetricsEndpointSetting::Read(Registry& registry) {
  std::string text;
  registry.QueryValue(kKey, kValue, &text);
  MetricsEndpointSetting setting = FromText(text);
  registry.QueryValue(kKey, kWebConfigValue, &setting.web_config);
  return setting;
}

MetricsEndpointSetting MetricsEndpointSetting::FromText(const std::string& text) {
  MetricsEndpointSetting setting;
  setting.text = text;
  if (text.empty()) return setting;
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == kOff) {
    setting.mode = Mode::kOff;
    return setting;
  }
  setting.mode = Mode::kInvalid;
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return setting;
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return setting;
  }
  const int number = std::stoi(port);
  if (number < 1 || number > 65535) return setting;
  setting.host = text.substr(0, colon);
  setting.port = number;
  setting.mode = Mode::kServe;
  return setting;
}

}  // namespace callsink
