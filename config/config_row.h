#pragma once

#include <array>
#include <string>

#include "config/config_layout.h"

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

// The registry value of each column.
inline constexpr std::array<const char*, kColumnCount> kConfigValueNames = {
    ConfigLayout::kAcdServer, ConfigLayout::kAcdPort,       ConfigLayout::kMysqlServer,
    ConfigLayout::kMysqlUser, ConfigLayout::kMysqlPassword, ConfigLayout::kStatus};

}  // namespace callsink
