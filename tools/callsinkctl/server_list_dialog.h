#pragma once

#include <optional>
#include <string>
#include <vector>

#include "manager/data_drop_dialog.h"

namespace callsink {

// The "Database delete" dialog of `callsinkctl data servers`: takes note of
// the ACD servers offered and always cancels, so nothing is deleted.
class ServerListDialog : public DataDropDialog {
 public:
  std::optional<size_t> DoModal(const std::string& mysql_server,
                                const std::vector<std::string>& choices) override;

  // After DoModal: the server names found, without the leading "All".
  const std::vector<std::string>& servers() const { return servers_; }

 private:
  std::vector<std::string> servers_;
};

}  // namespace callsink
