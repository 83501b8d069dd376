#pragma once

#include <cstdint>
#include <functional>

#include "config/config_row.h"
#include "platform/registry.h"

namespace callsink {

// What ReadConfigs hands its caller while it reads; empty members are not
// called. Every call comes on the reading thread, inside the read's snapshot.
struct ConfigReadCallbacks {
  // Each counted configuration, numbered from 1, in order, once read whole.
  std::function<void(int number, ConfigRow row)> config;
  // ConfigCount read as `count`, above ConfigLayout::kMaxConfigs: only the
  // first kMaxConfigs are read. Called before the first configuration.
  std::function<void(int count)> count_capped;
  // Setting `name` of configuration `number` is longer than
  // ConfigLayout::kMaxValueLength and reads as "". Status, the worker's own
  // report, is no setting and never named here.
  std::function<void(int number, const char* name)> value_ignored;
};

enum class ConfigReadResult {
  kRead,       // the Configs key was read
  kNoConfigs,  // there is no Configs key: nothing is configured
  kFailed,     // the registry could not be read (busy past its timeout, I/O)
};

// Reads the configuration layout in one snapshot, so that a rewrite by
// another process is seen whole or not at all, without holding up writers
// (a read-only registry will do). ConfigCount reads like atoi, a negative
// count as 0; a missing subkey or value, and a value longer than
// ConfigLayout::kMaxValueLength, reads as "". On kFailed registry.error()
// says why, and `config` may have been called for the configurations read
// before the failure.
ConfigReadResult ReadConfigs(Registry& registry, const ConfigReadCallbacks& callbacks);

// The most each server's journal may hold, in bytes: ConfigLayout's
// kJournalCapMiB below kServiceKey, read like atoi, in MiB; the default
// (kDefaultJournalCapMiB) when it is missing, not a positive number or
// cannot be read.
uint64_t ReadJournalCapBytes(Registry& registry);

// The days of history each worker keeps: ConfigLayout's kRetentionDays below
// kServiceKey, read like atoi; 0 (everything is kept) when it is missing,
// empty, not a positive number or cannot be read.
uint32_t ReadRetentionDays(Registry& registry);

}  // namespace callsink
