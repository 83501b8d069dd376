#include "manager/config_store.h"

namespace callsink {

bool ConfigStore::Read(Registry& registry, std::vector<ConfigRow>* rows) {
  rows->clear();
  bool opened = false;
  // One snapshot: a rewrite by another process is seen whole or not at all.
  const bool read = registry.Transaction([&] {
    if (!registry.KeyExists(ConfigLayout::kConfigsKey)) return true;
    opened = true;
    std::string count_text;
    ConfigLayout::ReadValue(registry, ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount,
                            &count_text);
    const int count = std::clamp(ConfigLayout::AtoI(count_text), 0, kMaxConfigs);
    rows->resize(static_cast<size_t>(count));
    for (int number = 1; number <= count; ++number) {
      ConfigRow& row = (*rows)[static_cast<size_t>(number - 1)];
      for (size_t column = 0; column < row.size(); ++column) {
        ConfigLayout::ReadValue(registry, ConfigLayout::ConfigKey(number), kValueNames[column],
                                &row[column]);
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

bool ConfigStore::Write(Registry& registry, std::span<const ConfigRow> rows) {
  return registry.Transaction([&] {
    if (registry.KeyExists(ConfigLayout::kConfigsKey) &&
        !registry.DeleteKey(ConfigLayout::kConfigsKey)) {
      return false;
    }
    if (!registry.CreateKey(ConfigLayout::kConfigsKey)) return false;
    int number = 0;
    for (const ConfigRow& row : rows) {
      const std::string key = ConfigLayout::ConfigKey(++number);
      if (!registry.CreateKey(key)) return false;
      for (size_t column = 0; column < row.size(); ++column) {
        if (!registry.SetValue(key, kValueNames[column], row[column])) return false;
      }
    }
    return registry.SetValue(ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount,
                             std::to_string(number));
  });
}

}  // namespace callsink
