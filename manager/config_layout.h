#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

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

// The configuration layout below HKEY_LOCAL_MACHINE as the manager reads and
// rewrites it: the Configs key with "ConfigCount" and the subkeys
// "Config1".."ConfigN", each holding the six string values named in
// kValueNames. Stateless; the Registry passed in belongs to the caller's
// thread.
class ConfigLayout {
 public:
  static constexpr const char* kConfigsKey = "Software\\Orvanta Technologies\\ACD Service\\Configs";
  static constexpr const char* kCountValue = "ConfigCount";
  static constexpr std::array<const char*, kColumnCount> kValueNames = {
      "ACD_Server", "ACD_Port", "MYSQL_Server", "MYSQL_User", "MYSQL_Password", "Status"};
  // Every value holds at most this many characters; a longer one reads as "".
  static constexpr size_t kMaxValueLength = 99;
  // The manager keeps at most this many configurations.
  static constexpr int kMaxConfigs = 99;

  // "Software\...\Configs\Config<number>".
  static std::string SubkeyOf(int number);

  // Converts like the C library's atoi: leading white space, an optional
  // sign, then decimal digits up to the first other character; no digits
  // give 0. Saturates at the int range instead of overflowing.
  static int ToNumber(const std::string& text);

  // Reads the layout in one snapshot. False when the Configs key does not
  // exist (or the registry cannot be read): `rows` is then empty. Otherwise
  // `rows` holds one row per counted configuration, for a count read from
  // "ConfigCount", negative as 0 and above kMaxConfigs as kMaxConfigs; a
  // missing subkey or value, and a value longer than kMaxValueLength, reads
  // as "".
  static bool Read(Registry& registry, std::vector<ConfigRow>* rows);

  // Replaces the whole layout by `rows` (numbered from 1, "ConfigCount"
  // written last) in one transaction: on any failure the previous layout
  // stays whole and registry.error() says why.
  static bool Write(Registry& registry, std::span<const ConfigRow> rows);
};

}  // namespace callsink
