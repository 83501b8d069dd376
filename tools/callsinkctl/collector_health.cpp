#include "tools/callsinkctl/collector_health.h"

#include <cmath>
#include <ostream>
#include <sstream>

#include "health/metrics_client.h"
#include "health/scraped_metrics.h"

namespace callsink {
namespace {

std::string Whole(double value) { return std::to_string(std::llround(value)); }

// "2.4 MiB" and the like.
std::string Bytes(double bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
    bytes /= 1024;
    ++unit;
  }
  std::ostringstream text;
  text.precision(unit == 0 ? 0 : 1);
  text << std::fixed << bytes << " " << kUnits[unit];
  return text.str();
}

}  // namespace

void CollectorHealth::Write(std::ostream& out, const std::vector<ConfigRow>& configs, bool running,
                            const std::optional<MetricsEndpointSetting>& stored) {
  out << "\n";
  if (!running) {
    out << "Health: none, the collector is not running\n";
    return;
  }
  if (!stored) {
    out << "Health: none, there is no configuration store\n";
    return;
  }
  const MetricsEndpointSetting& setting = *stored;
  switch (setting.mode) {
    case MetricsEndpointSetting::Mode::kOff:
      out << "Health: none, the metrics endpoint is switched off ("
          << MetricsEndpointSetting::kValue << " = \"" << setting.text << "\")\n";
      return;
    case MetricsEndpointSetting::Mode::kInvalid:
      out << "Health: none, the metrics endpoint \"" << setting.text
          << "\" is neither HOST:PORT nor off\n";
      return;
    case MetricsEndpointSetting::Mode::kServe:
      break;
  }
  std::string page, error;
  const bool fetched =
      MetricsClient::Fetch(setting.host, setting.port, setting.web_config, &page, &error);
  const std::string url = MetricsClient::Url(setting.Address(), setting.web_config);
  if (!fetched) {
    out << "Health: none, no answer from " << url << " (" << error << ")\n";
    return;
  }
  out << "Health from " << url << ":\n";
  const ScrapedMetrics metrics = ScrapedMetrics::Parse(page);
  const std::time_t now = std::time(nullptr);
  for (size_t i = 0; i < configs.size(); ++i) {
    const int number = static_cast<int>(i + 1);
    out << number << "\t" << configs[i][kAcdServer] << "\t" << ConfigLine(metrics, number, now)
        << "\n";
  }
}

std::string CollectorHealth::ConfigLine(const ScrapedMetrics& metrics, int number,
                                        std::time_t now) {
  const ScrapedMetrics::Labels config = {{"config", std::to_string(number)}};
  auto up = [&](const char* link) {
    ScrapedMetrics::Labels labels = config;
    labels["link"] = link;
    return metrics.Find("callsink_link_up", labels);
  };
  const auto acd = up("acd");
  const auto database = up("database");
  if (!acd || !database) return "not collected by the running collector (apply to take it up)";

  std::ostringstream line;
  line << (*acd == 1 ? "Y" : "N") << "-" << (*database == 1 ? "Y" : "N");
  const double last = metrics.Find("callsink_last_message_timestamp_seconds", config).value_or(0);
  if (last == 0) {
    line << ", no message yet";
  } else {
    line << ", last message " << Whole(std::max(0.0, static_cast<double>(now) - last)) << " s ago";
  }
  line << ", " << Whole(metrics.Sum("callsink_events_last_minute", config)) << " events/min, "
       << Whole(metrics.Sum("callsink_rows_written_total", config)) << " rows written";
  const auto entries = metrics.Find("callsink_journal_backlog_entries", config);
  if (!entries) {
    line << ", no journal";
  } else {
    line << ", journal " << Whole(*entries) << " entries ("
         << Bytes(metrics.Sum("callsink_journal_backlog_bytes", config)) << ") behind, lag "
         << metrics.Sum("callsink_apply_lag_seconds", config) << " s";
  }
  return line.str();
}

}  // namespace callsink
