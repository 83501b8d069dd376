#pragma once

#include <functional>
#include <string>

#include "manager/message_box.h"

namespace callsink {

// Shows one message and returns the answer (see MessageBox::Show).
using MessageFunction = std::function<MessageAnswer(const std::string& text, MessageKind kind)>;

// The window's one way to show a message: every message of the manager, its
// dialogs and the data deletion goes through the function given here, so a
// test can answer in its place. GUI thread only.
class DialogMessageBox : public MessageBox {
 public:
  // `show` answers every message; ShowModal is the real one.
  explicit DialogMessageBox(MessageFunction show);

  MessageAnswer Show(const std::string& text, MessageKind kind) override;

  // A modal message box: the caption is the program's name with an OK
  // button and an exclamation icon for a notice, Yes and No with a question
  // icon for a question; the reboot offer has its own caption and no icon.
  static MessageAnswer ShowModal(const std::string& text, MessageKind kind);

 private:
  const MessageFunction show_;
};

}  // namespace callsink
