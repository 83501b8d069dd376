#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "config/config_layout.h"
#include "platform/registry.h"

namespace callsink {

// The columns of one configuration, in the order of its registry values.
enum ConfigColumn : int {
  kAcdServer = 0,
  kAcdPort = 1,
  kMysqlServer = 2,
  kMysqlUser = 3,
  kMysqlPassword = 4,
  kStatus = 5,
  kColumnCount = 6,
};

// One configuration as six texts, indexed by ConfigColumn.
using ConfigRow = std::array<std::string, kColumnCount>;

// The manager's side of the configuration layout (ConfigLayout): every
// configuration read at once, and the whole layout rewritten at once.
// Stateless; the Registry passed in belongs to the caller's thread.
class ConfigStore {
 public:
  // The registry value of each column.
  static constexpr std::array<const char*, kColumnCount> kValueNames = {
      ConfigLayout::kAcdServer, ConfigLayout::kAcdPort,       ConfigLayout::kMysqlServer,
      ConfigLayout::kMysqlUser, ConfigLayout::kMysqlPassword, ConfigLayout::kStatus};
  // The manager keeps at most this many configurations.
  static constexpr int kMaxConfigs = 99;

  // Reads the layout in one snapshot. False when the Configs key does not
  // exist (or the registry cannot be read): `rows` is then empty. Otherwise
  // `rows` holds one row per counted configuration, for a count read from
  // ConfigCount like atoi, negative as 0 and above kMaxConfigs as
  // kMaxConfigs; a missing subkey or value, and a value longer than
  // ConfigLayout::kMaxValueLength, reads as "".
  static bool Read(Registry& registry, std::vector<ConfigRow>* rows);

  // Replaces the whole layout by `rows` (numbered from 1, ConfigCount
  // written last) in one transaction: on any failure the previous layout
  // stays whole and registry.error() says why.
  static bool Write(Registry& registry, std::span<const ConfigRow> rows);
};

}  // namespace callsink
