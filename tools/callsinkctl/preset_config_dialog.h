#pragma once

#include <optional>
#include <string>

#include "manager/config_dialog.h"

namespace callsink {

// The configuration dialog of a command line: the texts given as options
// replace those the dialog opens with, the others stay; it always ends
// with OK.
class PresetConfigDialog : public ConfigDialog {
 public:
  struct Overrides {
    std::optional<std::string> server, port, mysql_server, user, password;
  };

  explicit PresetConfigDialog(Overrides overrides) : overrides_(std::move(overrides)) {}

  bool DoModal(ConfigFields* fields) override;

 private:
  const Overrides overrides_;
};

}  // namespace callsink
