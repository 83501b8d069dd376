#include "manager/config_store.h"

#include "config/config_reader.h"

namespace callsink {

bool ConfigStore::Read(Registry& registry, std::vector<ConfigRow>* rows) {
  rows->clear();
  ConfigReadCallbacks callbacks;
  callbacks.config = [rows](int, ConfigRow row) { rows->push_back(std::move(row)); };
  if (ReadConfigs(registry, callbacks) == ConfigReadResult::kRead) return true;
  rows->clear();
  return false;
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
        if (!registry.SetValue(key, kConfigValueNames[column], row[column])) return false;
      }
    }
    return registry.SetValue(ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount,
                             std::to_string(number));
  });
}

}  // namespace callsink
