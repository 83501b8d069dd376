#pragma once

#include <string>
#include <vector>

#include "manager/message_box.h"
#include "tools/callsinkctl/terminal.h"

namespace callsink {

// The manager's messages in a terminal: questions are asked through the
// Terminal, notices are kept for the command to print where they belong.
class TerminalMessageBox : public MessageBox {
 public:
  // `terminal` must outlive the object.
  explicit TerminalMessageBox(Terminal& terminal) : terminal_(terminal) {}

  MessageAnswer Show(const std::string& text, MessageKind kind) override;

  // The notices shown so far, oldest first.
  const std::vector<std::string>& notices() const { return notices_; }

 private:
  Terminal& terminal_;
  std::vector<std::string> notices_;
};

}  // namespace callsink
