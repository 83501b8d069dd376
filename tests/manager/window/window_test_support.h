#pragma once

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "manager/message_box.h"
#include "manager/window/dialog_message_box.h"
#include "tests/manager/manager_fakes.h"

// Helpers for driving modal dialogs and menus in QTest suites.
namespace callsink::test {

// Answers the modal dialog that the caller is about to open: `answer` runs
// once the dialog's own event loop turns, with the dialog of type `Dialog`
// (a failure when the active modal widget is of another type). Whatever the
// answer did, the dialog is closed afterwards, so a failing check never
// leaves a test waiting on it.
template <typename Dialog>
void AnswerNextModal(std::function<void(Dialog&)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    auto* dialog = qobject_cast<Dialog*>(modal);
    if (dialog == nullptr) {
      QTest::qFail("the expected modal dialog is not open", __FILE__, __LINE__);
    } else {
      answer(*dialog);
    }
    if (modal != nullptr && modal->isVisible()) modal->reject();
  });
}

// Chooses the item whose text is `text` in the popup menu the caller is
// about to open; closes the menu when there is no such item.
inline void ChooseInNextMenu(const QString& text) {
  QTimer::singleShot(0, [text] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) {
      QTest::qFail("no popup menu is open", __FILE__, __LINE__);
      return;
    }
    for (QAction* action : menu->actions()) {
      if (action->text() == text) {
        menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Return);
        return;
      }
    }
    QTest::qFail(qPrintable("no menu item " + text), __FILE__, __LINE__);
    menu->close();
  });
}

// Stands in for the message boxes of the window: the scripted message box
// of the model's tests, as the function the dialogs take.
class ScriptedMessages : public ScriptedMessageBox {
 public:
  MessageFunction Function() {
    return [this](const std::string& text, MessageKind kind) { return Show(text, kind); };
  }
};

}  // namespace callsink::test
