#include "config/config_layout.h"

#include <cctype>
#include <climits>

#include "platform/registry.h"

namespace callsink {

std::string ConfigLayout::ConfigKey(int n) {
  return std::string(kConfigsKey) + "\\Config" + std::to_string(n);
}

int ConfigLayout::AtoI(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void ConfigLayout::WriteStatus(const std::string& registry_file, const std::string& registry_path,
                               const std::string& text) {
  if (registry_file.empty()) return;
  Registry registry(registry_file);
  if (!registry.Open(Registry::OpenMode::kExisting)) return;
  registry.SetValue(registry_path, kStatus, text);
}

}  // namespace callsink
