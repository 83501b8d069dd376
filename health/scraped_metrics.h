#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace callsink {

// The samples of a page in the Prometheus text format, as a reader of the
// collector's endpoint needs them: name, labels and value of every sample
// line; comments and lines that do not parse are skipped.
class ScrapedMetrics {
 public:
  using Labels = std::map<std::string, std::string>;
  struct Sample {
    std::string name;
    Labels labels;
    double value = 0;
  };

  static ScrapedMetrics Parse(std::string_view page);

  // The value of the first sample of `name` whose labels include `labels`.
  std::optional<double> Find(std::string_view name, const Labels& labels) const;
  // The sum over every such sample (0 when there is none).
  double Sum(std::string_view name, const Labels& labels) const;

  const std::vector<Sample>& samples() const { return samples_; }

 private:
  static std::optional<Sample> ParseLine(std::string_view line);
  static bool Matches(const Sample& sample, std::string_view name, const Labels& labels);

  std::vector<Sample> samples_;
};

}  // namespace callsink
