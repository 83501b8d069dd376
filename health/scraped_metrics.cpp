#include "health/scraped_metrics.h"

#include <cstdlib>

namespace callsink {
namespace {

// Reads a quoted label value at `text`[at] (just after the opening quote),
// undoing the format's escapes; moves `at` past the closing quote.
std::optional<std::string> QuotedValue(std::string_view text, size_t& at) {
  std::string value;
  while (at < text.size()) {
    const char c = text[at++];
    if (c == '"') return value;
    if (c != '\\' || at == text.size()) {
      value.push_back(c);
      continue;
    }
    const char escaped = text[at++];
    value.push_back(escaped == 'n' ? '\n' : escaped);
  }
  return std::nullopt;
}

}  // namespace

ScrapedMetrics ScrapedMetrics::Parse(std::string_view page) {
  ScrapedMetrics metrics;
  while (!page.empty()) {
    const size_t end = page.find('\n');
    const std::string_view line = page.substr(0, end);
    page.remove_prefix(end == std::string_view::npos ? page.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (auto sample = ParseLine(line)) metrics.samples_.push_back(std::move(*sample));
  }
  return metrics;
}

std::optional<ScrapedMetrics::Sample> ScrapedMetrics::ParseLine(std::string_view line) {
  Sample sample;
  size_t at = line.find_first_of("{ ");
  if (at == std::string_view::npos || at == 0) return std::nullopt;
  sample.name = line.substr(0, at);
  if (line[at] == '{') {
    ++at;
    while (at < line.size() && line[at] != '}') {
      const size_t equals = line.find("=\"", at);
      if (equals == std::string_view::npos) return std::nullopt;
      const std::string name(line.substr(at, equals - at));
      at = equals + 2;
      const std::optional<std::string> value = QuotedValue(line, at);
      if (!value) return std::nullopt;
      sample.labels[name] = *value;
      if (at < line.size() && line[at] == ',') ++at;
    }
    if (at >= line.size()) return std::nullopt;
    ++at;  // the closing brace
  }
  const std::string value(line.substr(at));
  char* end = nullptr;
  sample.value = std::strtod(value.c_str(), &end);
  if (end == value.c_str()) return std::nullopt;
  return sample;
}

bool ScrapedMetrics::Matches(const Sample& sample, std::string_view name, const Labels& labels) {
  if (sample.name != name) return false;
  for (const auto& [key, value] : labels) {
    const auto found = sample.labels.find(key);
    if (found == sample.labels.end() || found->second != value) return false;
  }
  return true;
}

std::optional<double> ScrapedMetrics::Find(std::string_view name, const Labels& labels) const {
  for (const Sample& sample : samples_) {
    if (Matches(sample, name, labels)) return sample.value;
  }
  return std::nullopt;
}

double ScrapedMetrics::Sum(std::string_view name, const Labels& labels) const {
  double sum = 0;
  for (const Sample& sample : samples_) {
    if (Matches(sample, name, labels)) sum += sample.value;
  }
  return sum;
}

}  // namespace callsink
