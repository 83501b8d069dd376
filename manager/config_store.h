#pragma once

#include <span>
#include <vector>

#include "config/config_row.h"
#include "platform/registry.h"

namespace callsink {

// The manager's side of the configuration layout (ConfigLayout): every
// configuration read at once, and the whole layout rewritten at once.
// Stateless; the Registry passed in belongs to the caller's thread.
class ConfigStore {
 public:
  // Reads the layout as ReadConfigs does, into one row per counted
  // configuration (at most ConfigLayout::kMaxConfigs). False when the
  // Configs key does not exist (or the registry cannot be read): `rows` is
  // then empty.
  static bool Read(Registry& registry, std::vector<ConfigRow>* rows);

  // Replaces the whole layout by `rows` (numbered from 1, ConfigCount
  // written last) in one transaction: on any failure the previous layout
  // stays whole and registry.error() says why.
  static bool Write(Registry& registry, std::span<const ConfigRow> rows);
};

}  // namespace callsink
