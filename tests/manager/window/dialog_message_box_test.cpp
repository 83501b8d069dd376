#include "manager/window/dialog_message_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include "tests/manager/window/window_test_support.h"

Q_DECLARE_METATYPE(callsink::MessageKind)
Q_DECLARE_METATYPE(callsink::MessageAnswer)

namespace callsink {

class tst_DialogMessageBox : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationName(QStringLiteral("callsinkmanager")); }

  void everyMessageGoesThroughTheGivenFunction() {
    std::vector<std::pair<std::string, MessageKind>> seen;
    DialogMessageBox messages([&](const std::string& text, MessageKind kind) {
      seen.emplace_back(text, kind);
      return MessageAnswer::kYes;
    });
    QCOMPARE(messages.Show("Are you sure?", MessageKind::kConfirm), MessageAnswer::kYes);
    QCOMPARE(seen.size(), size_t{1});
    QCOMPARE(seen[0].first, std::string("Are you sure?"));
    QCOMPARE(seen[0].second, MessageKind::kConfirm);
  }

  void theModalBoxShowsTheKindsLook_data() {
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("press");
    QTest::addColumn<MessageAnswer>("answer");
    const int yes_no = QMessageBox::Yes | QMessageBox::No;
    QTest::newRow("notice") << MessageKind::kNotice << "callsinkmanager"
                            << int(QMessageBox::Warning) << int(QMessageBox::Ok)
                            << int(QMessageBox::Ok) << MessageAnswer::kOk;
    QTest::newRow("question, Yes")
        << MessageKind::kConfirm << "callsinkmanager" << int(QMessageBox::Question) << yes_no
        << int(QMessageBox::Yes) << MessageAnswer::kYes;
    QTest::newRow("question, No") << MessageKind::kConfirm << "callsinkmanager"
                                  << int(QMessageBox::Question) << yes_no << int(QMessageBox::No)
                                  << MessageAnswer::kNo;
    QTest::newRow("question, closed")
        << MessageKind::kConfirm << "callsinkmanager" << int(QMessageBox::Question) << yes_no << 0
        << MessageAnswer::kNo;
    QTest::newRow("reboot offer") << MessageKind::kRebootOffer << "ACD service manager"
                                  << int(QMessageBox::NoIcon) << yes_no << int(QMessageBox::Yes)
                                  << MessageAnswer::kYes;
  }
  void theModalBoxShowsTheKindsLook() {
    QFETCH(MessageKind, kind);
    QFETCH(QString, caption);
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(int, press);
    QFETCH(MessageAnswer, answer);
    QString title;
    QString text;
    int shown_icon = -1;
    int shown_buttons = 0;
    test::AnswerNextModal<QMessageBox>([&](QMessageBox& box) {
      title = box.windowTitle();
      text = box.text();
      shown_icon = box.icon();
      shown_buttons = box.standardButtons();
      if (press == 0) {
        QTest::keyClick(&box, Qt::Key_Escape);
      } else {
        QTest::mouseClick(box.button(QMessageBox::StandardButton(press)), Qt::LeftButton);
      }
    });
    QCOMPARE(DialogMessageBox::ShowModal("Some text", kind), answer);
    QCOMPARE(title, caption);
    QCOMPARE(text, QStringLiteral("Some text"));
    QCOMPARE(shown_icon, icon);
    QCOMPARE(shown_buttons, buttons);
  }
};

}  // namespace callsink

QTEST_MAIN(callsink::tst_DialogMessageBox)
#include "dialog_message_box_test.moc"
