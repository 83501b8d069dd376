#include "manager/window/dialog_message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace callsink {

DialogMessageBox::DialogMessageBox(MessageFunction show) : show_(std::move(show)) {}

MessageAnswer DialogMessageBox::Show(const std::string& text, MessageKind kind) {
  return show_(text, kind);
}

MessageAnswer DialogMessageBox::ShowModal(const std::string& text, MessageKind kind) {
  QMessageBox box;
  box.setText(QString::fromStdString(text));
  // The program's name is its executable's base name, which the
  // application name holds unless the program sets another.
  box.setWindowTitle(QApplication::applicationName());
  switch (kind) {
    case MessageKind::kNotice:
      box.setIcon(QMessageBox::Warning);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageKind::kConfirm:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case MessageKind::kRebootOffer:
      box.setWindowTitle(QString::fromLatin1(kRebootCaption));
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  const int answer = box.exec();
  if (kind == MessageKind::kNotice) return MessageAnswer::kOk;
  return answer == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
}

}  // namespace callsink
