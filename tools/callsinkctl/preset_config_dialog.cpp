#include "tools/callsinkctl/preset_config_dialog.h"

namespace callsink {

bool PresetConfigDialog::DoModal(ConfigFields* fields) {
  fields->server = overrides_.server.value_or(fields->server);
  fields->port = overrides_.port.value_or(fields->port);
  fields->mysql_server = overrides_.mysql_server.value_or(fields->mysql_server);
  fields->user = overrides_.user.value_or(fields->user);
  fields->password = overrides_.password.value_or(fields->password);
  return true;
}

}  // namespace callsink
