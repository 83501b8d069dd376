#include "health/metrics_text.h"

#include <charconv>
#include <cmath>

namespace callsink {

void MetricsText::Family(std::string_view name, std::string_view type, std::string_view help) {
  text_.append("# HELP ").append(name).append(" ");
  AppendEscaped(help, false);
  text_.append("\n# TYPE ").append(name).append(" ").append(type).append("\n");
}

void MetricsText::Sample(std::string_view name, std::span<const Label> labels, uint64_t value) {
  BeginSample(name, labels);
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text_.append(digits, end).append("\n");
}

void MetricsText::Sample(std::string_view name, std::span<const Label> labels, double value) {
  BeginSample(name, labels);
  if (std::isinf(value)) {
    text_.append(value > 0 ? "+Inf" : "-Inf");
  } else if (std::isnan(value)) {
    text_.append("NaN");
  } else {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(digits, end);
  }
  text_.append("\n");
}

void MetricsText::BeginSample(std::string_view name, std::span<const Label> labels) {
  text_.append(name);
  if (!labels.empty()) {
    text_.append("{");
    for (size_t i = 0; i < labels.size(); ++i) {
      if (i > 0) text_.append(",");
      text_.append(labels[i].name).append("=\"");
      AppendEscaped(labels[i].value, true);
      text_.append("\"");
    }
    text_.append("}");
  }
  text_.append(" ");
}

void MetricsText::AppendEscaped(std::string_view text, bool quotes) {
  for (const char c : text) {
    if (c == '\\') {
      text_.append("\\\\");
    } else if (c == '\n') {
      text_.append("\\n");
    } else if (c == '"' && quotes) {
      text_.append("\\\"");
    } else {
      text_.push_back(c);
    }
  }
}

}  // namespace callsink
