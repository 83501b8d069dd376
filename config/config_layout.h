#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace callsink {

// The configuration layout both programs share: below the Configs key,
// ConfigCount and one subkey ConfigN per configuration with its values.
class ConfigLayout {
 public:
  static constexpr const char* kServiceKey = "Software\\Orvanta Technologies\\ACD Service";
  static constexpr const char* kConfigsKey = "Software\\Orvanta Technologies\\ACD Service\\Configs";
  static constexpr const char* kConfigCount = "ConfigCount";
  static constexpr const char* kAcdServer = "ACD_Server";
  static constexpr const char* kAcdPort = "ACD_Port";
  static constexpr const char* kMysqlServer = "MYSQL_Server";
  static constexpr const char* kMysqlUser = "MYSQL_User";
  static constexpr const char* kMysqlPassword = "MYSQL_Password";
  static constexpr const char* kStatus = "Status";
  // Both programs read values into 100-byte buffers.
  static constexpr size_t kMaxValueLength = 99;
  // Most configurations either program takes: the collector starts a worker
  // for each, the manager keeps no more.
  static constexpr int kMaxConfigs = 99;

  // Below kServiceKey, beside Configs (which the manager rewrites whole):
  // the most each server's journal may hold, in MiB.
  static constexpr const char* kJournalCapMiB = "JournalCapMiB";
  static constexpr uint64_t kDefaultJournalCapMiB = 1024;
  // Beside it: how many days of history each worker keeps of its server
  // (decimal text; missing, empty or 0: everything is kept).
  static constexpr const char* kRetentionDays = "RetentionDays";

  // Connection states a worker reports.
  static constexpr const char* kNothingConnected = "N-N";
  static constexpr const char* kDatabaseConnected = "N-Y";
  static constexpr const char* kAcdConnected = "Y-N";
  static constexpr const char* kBothConnected = "Y-Y";

  // "Software\...\Configs\ConfigN"
  static std::string ConfigKey(int n);
  // Conversion like atoi: leading white space, an optional sign, decimal
  // digits up to the first other character; no digits give 0. Saturates
  // instead of overflowing.
  static int AtoI(const std::string& text);

  // Sets Status of the configuration at `registry_path` in the store at
  // `registry_file`. Nothing is written, and nothing reported, when the file
  // or the key is missing, or `registry_file` is empty. Any thread; each
  // call opens its own connection.
  static void WriteStatus(const std::string& registry_file, const std::string& registry_path,
                          const std::string& text);
};

}  // namespace callsink
