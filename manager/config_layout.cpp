#include "manager/config_layout.h"

#include <cctype>
#include <climits>

namespace callsink {

std::string ConfigLayout::SubkeyOf(int number) {
  return std::string(kConfigsKey) + "\\Config" + std::to_string(number);
}

int ConfigLayout::ToNumber(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  long long value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;  // saturated either way
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool ConfigLayout::Read(Registry& registry, std::vector<ConfigRow>* rows) {
  rows->clear();
  bool opened = false;
  // One snapshot: a rewrite by another process is seen whole or not at all.
  const bool read = registry.Transaction([&] {
    if (!registry.KeyExists(kConfigsKey)) return true;
    opened = true;
    std::string count_text;
    registry.QueryValue(kConfigsKey, kCountValue, &count_text);
    int count = ToNumber(count_text.size() > kMaxValueLength ? std::string() : count_text);
    if (count < 0) count = 0;
    if (count > kMaxConfigs) count = kMaxConfigs;
    rows->resize(static_cast<size_t>(count));
    for (int number = 1; number <= count; ++number) {
      ConfigRow& row = (*rows)[static_cast<size_t>(number - 1)];
      for (size_t column = 0; column < row.size(); ++column) {
        std::string data;
        if (registry.QueryValue(SubkeyOf(number), kValueNames[column], &data) &&
            data.size() <= kMaxValueLength) {
          row[column] = std::move(data);
        }
      }
    }
    return true;
  });
  if (!read) {
    rows->clear();
    return false;
  }
  return opened;
}

bool ConfigLayout::Write(Registry& registry, std::span<const ConfigRow> rows) {
  return registry.Transaction([&] {
    if (registry.KeyExists(kConfigsKey) && !registry.DeleteKey(kConfigsKey)) return false;
    if (!registry.CreateKey(kConfigsKey)) return false;
    int number = 0;
    for (const ConfigRow& row : rows) {
      const std::string subkey = SubkeyOf(++number);
      if (!registry.CreateKey(subkey)) return false;
      for (size_t column = 0; column < row.size(); ++column) {
        if (!registry.SetValue(subkey, kValueNames[column], row[column])) return false;
      }
    }
    return registry.SetValue(kConfigsKey, kCountValue, std::to_string(number));
  });
}

}  // namespace callsink
