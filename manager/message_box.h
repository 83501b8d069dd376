#pragma once

#include <string>

namespace callsink {

enum class MessageKind {
  kNotice,       // caption = the program's name, OK button, exclamation icon
  kConfirm,      // caption = the program's name, Yes and No buttons, question icon
  kRebootOffer,  // caption kRebootCaption, Yes and No buttons, no icon
};

enum class MessageAnswer { kOk, kYes, kNo };

// Every message the manager shows goes through one object of this kind, so
// a test or a terminal program can answer it. Used on the model's thread.
class MessageBox {
 public:
  static constexpr const char* kRebootCaption = "ACD service manager";

  virtual ~MessageBox() = default;

  // Shows `text` and returns the answer: kOk for kNotice, kYes or kNo for
  // the two questions (closing a question counts as kNo).
  virtual MessageAnswer Show(const std::string& text, MessageKind kind) = 0;
};

}  // namespace callsink
