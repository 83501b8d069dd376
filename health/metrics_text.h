#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace callsink {

// Builds a page in the Prometheus text exposition format (version 0.0.4):
// each family opens with its HELP and TYPE lines and is followed by all of
// its samples; label values and help texts are escaped as the format wants.
// One object builds one page, on one thread.
class MetricsText {
 public:
  static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

  struct Label {
    std::string_view name;
    std::string_view value;
  };

  // Opens a family. `type` is counter, gauge or histogram.
  void Family(std::string_view name, std::string_view type, std::string_view help);
  // One sample of the open family: "name{labels} value".
  void Sample(std::string_view name, std::span<const Label> labels, uint64_t value);
  void Sample(std::string_view name, std::span<const Label> labels, double value);

  const std::string& text() const { return text_; }

 private:
  void BeginSample(std::string_view name, std::span<const Label> labels);
  // Appends `text` with backslash and line feed escaped, and double quotes
  // too when `quotes`.
  void AppendEscaped(std::string_view text, bool quotes);

  std::string text_;
};

}  // namespace callsink
