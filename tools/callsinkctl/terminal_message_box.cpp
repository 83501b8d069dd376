#include "tools/callsinkctl/terminal_message_box.h"

namespace callsink {

MessageAnswer TerminalMessageBox::Show(const std::string& text, MessageKind kind) {
  if (kind == MessageKind::kNotice) {
    notices_.push_back(text);
    return MessageAnswer::kOk;
  }
  return terminal_.Confirm(text) ? MessageAnswer::kYes : MessageAnswer::kNo;
}

}  // namespace callsink
