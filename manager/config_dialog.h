#pragma once

#include <string>

namespace callsink {

// The five texts of one configuration as the configuration dialog shows
// them; constructed with the dialog's defaults for a new configuration.
struct ConfigFields {
  std::string server;
  std::string port = "4660";
  std::string mysql_server = "localhost";
  std::string user = "root";
  std::string password;
  bool operator==(const ConfigFields&) const = default;
};

// The modal configuration dialog ("Add/Edit ACD configurations"). It does no
// validation: whatever was typed is taken. Used on the model's thread.
class ConfigDialog {
 public:
  virtual ~ConfigDialog() = default;

  // Shows `fields`. Returns true when the dialog ended with OK, `fields`
  // then holds the edited texts; false on Cancel, `fields` unchanged.
  virtual bool DoModal(ConfigFields* fields) = 0;
};

}  // namespace callsink
