#include "tools/callsinkctl/server_list_dialog.h"

namespace callsink {

std::optional<size_t> ServerListDialog::DoModal(const std::string& /*mysql_server*/,
                                                const std::vector<std::string>& choices) {
  if (!choices.empty()) servers_.assign(choices.begin() + 1, choices.end());
  return std::nullopt;
}

}  // namespace callsink
