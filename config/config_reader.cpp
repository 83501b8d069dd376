#include "config/config_reader.h"

#include <algorithm>
#include <string>

namespace callsink {
namespace {

// One value as the 100-byte buffers of both programs take it: too long reads
// as "" and is reported when `ignored` is given.
std::string ReadValue(Registry& registry, const std::string& key, const char* name,
                      const std::function<void()>& ignored) {
  std::string value;
  if (!registry.QueryValue(key, name, &value)) return {};
  if (value.size() <= ConfigLayout::kMaxValueLength) return value;
  if (ignored) ignored();
  return {};
}

}  // namespace

ConfigReadResult ReadConfigs(Registry& registry, const ConfigReadCallbacks& callbacks) {
  bool found = false;
  const bool read = registry.Read([&] {
    if (!registry.KeyExists(ConfigLayout::kConfigsKey)) return true;
    found = true;
    const int count = ConfigLayout::AtoI(
        ReadValue(registry, ConfigLayout::kConfigsKey, ConfigLayout::kConfigCount, {}));
    if (count > ConfigLayout::kMaxConfigs && callbacks.count_capped) callbacks.count_capped(count);
    for (int number = 1; number <= std::min(count, ConfigLayout::kMaxConfigs); ++number) {
      const std::string key = ConfigLayout::ConfigKey(number);
      ConfigRow row;
      for (size_t column = 0; column < row.size(); ++column) {
        const char* name = kConfigValueNames[column];
        const bool setting = column != kStatus;
        row[column] = ReadValue(registry, key, name, [&] {
          if (setting && callbacks.value_ignored) callbacks.value_ignored(number, name);
        });
      }
      if (callbacks.config) callbacks.config(number, std::move(row));
    }
    return true;
  });
  if (!read) return ConfigReadResult::kFailed;
  return found ? ConfigReadResult::kRead : ConfigReadResult::kNoConfigs;
}

uint64_t ReadJournalCapBytes(Registry& registry) {
  const int mebibytes = ConfigLayout::AtoI(
      ReadValue(registry, ConfigLayout::kServiceKey, ConfigLayout::kJournalCapMiB, {}));
  const uint64_t cap =
      mebibytes > 0 ? static_cast<uint64_t>(mebibytes) : ConfigLayout::kDefaultJournalCapMiB;
  return cap << 20;
}

uint32_t ReadRetentionDays(Registry& registry) {
  const int days = ConfigLayout::AtoI(
      ReadValue(registry, ConfigLayout::kServiceKey, ConfigLayout::kRetentionDays, {}));
  return days > 0 ? static_cast<uint32_t>(days) : 0;
}

}  // namespace callsink
