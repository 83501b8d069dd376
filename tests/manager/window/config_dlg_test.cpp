#include "manager/window/config_dlg.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "config/config_layout.h"
#include "manager/window/dialog_units.h"
#include "tests/manager/window/window_test_support.h"

Q_DECLARE_METATYPE(callsink::ConfigFields)

namespace callsink {

class tst_CConfigDlg : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CConfigDlg> dialog_;

  QLineEdit* Edit(int id) const {
    return dialog_->findChild<QLineEdit*>(QStringLiteral("edit_%1").arg(id));
  }
  QPushButton* Button(int id) const {
    return dialog_->findChild<QPushButton*>(QStringLiteral("button_%1").arg(id));
  }
  QStringList Texts() const {
    QStringList texts;
    for (const int id : {1003, 1004, 1005, 1007, 1008}) texts << Edit(id)->text();
    return texts;
  }

 private slots:
  void init() { dialog_ = std::make_unique<CConfigDlg>(); }
  void cleanup() { dialog_.reset(); }

  void showsItsCaptionLabelsAndButtons() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Add/Edit ACD configurations"));
    QStringList groups;
    for (const QGroupBox* group : dialog_->findChildren<QGroupBox*>()) groups << group->title();
    groups.sort();
    QCOMPARE(groups, QStringList({"ACD", "MYSQL"}));
    QStringList labels;
    for (const QLabel* label : dialog_->findChildren<QLabel*>()) labels << label->text();
    QCOMPARE(labels, QStringList({"Halvern IP", "Port", "Server", "User", "Password"}));
    QCOMPARE(Button(1009)->text(), QStringLiteral("Reset DB"));
    QCOMPARE(Button(1)->text(), QStringLiteral("OK"));
    QCOMPARE(Button(2)->text(), QStringLiteral("Cancel"));
    QVERIFY(Button(1)->isDefault());
    QVERIFY(!Button(2)->isDefault());
    QVERIFY(!Button(1009)->isDefault());
  }

  void startsWithTheDefaultsAndAMaskedPassword() {
    QCOMPARE(Texts(), QStringList({"", "4660", "localhost", "root", ""}));
    QCOMPARE(Edit(1008)->echoMode(), QLineEdit::Password);
    for (const int id : {1003, 1004, 1005, 1007}) QCOMPARE(Edit(id)->echoMode(), QLineEdit::Normal);
  }

  void sizesFollowTheDialogUnitsOfItsFont() {
    const DialogUnits units(dialog_->font());
    QCOMPARE(dialog_->size(), units.Size(160, 173));
    QCOMPARE(Edit(1003)->geometry(), units.Rect(55, 17, 91, 14));
    QCOMPARE(Button(1009)->geometry(), units.Rect(16, 126, 130, 14));
    QCOMPARE(Button(2)->geometry(), units.Rect(103, 151, 50, 14));
  }

  void tabVisitsTheEditsThenOkCancelAndResetDb() {
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    Edit(1003)->setFocus();
    const QList<QWidget*> order = {Edit(1004), Edit(1005), Edit(1007),   Edit(1008),
                                   Button(1),  Button(2),  Button(1009), Edit(1003)};
    for (QWidget* expected : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), expected);
    }
  }

  void okHandsBackWhatWasTyped_data() {
    QTest::addColumn<ConfigFields>("given");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("add") << ConfigFields{} << QStringList({"", "4660", "localhost", "root", ""});
    QTest::newRow("edit") << ConfigFields{"10.0.0.5", "4661", "db.example", "stats", "pw"}
                          << QStringList({"10.0.0.5", "4661", "db.example", "stats", "pw"});
  }
  void okHandsBackWhatWasTyped() {
    QFETCH(ConfigFields, given);
    QFETCH(QStringList, shown);
    QStringList opened_with;
    test::AnswerNextModal<CConfigDlg>([&](CConfigDlg&) {
      opened_with = Texts();
      Edit(1003)->setText("10.0.0.9");
      Edit(1008)->setText("secret");
      QTest::mouseClick(Button(1), Qt::LeftButton);
    });
    ConfigFields fields = given;
    QVERIFY(dialog_->DoModal(&fields));
    QCOMPARE(opened_with, shown);
    QCOMPARE(fields.server, std::string("10.0.0.9"));
    QCOMPARE(fields.port, given.port);
    QCOMPARE(fields.mysql_server, given.mysql_server);
    QCOMPARE(fields.user, given.user);
    QCOMPARE(fields.password, std::string("secret"));
  }

  void okTakesAnEmptyServerAddress() {
    test::AnswerNextModal<CConfigDlg>([&](CConfigDlg&) {
      QTest::keyClick(Edit(1003), Qt::Key_Return);  // OK is the default button
    });
    ConfigFields fields;
    QVERIFY(dialog_->DoModal(&fields));
    QCOMPARE(fields.server, std::string());
  }

  void cancelLeavesTheFieldsAlone_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Escape key") << true;
  }
  void cancelLeavesTheFieldsAlone() {
    QFETCH(bool, escape);
    test::AnswerNextModal<CConfigDlg>([&](CConfigDlg&) {
      Edit(1003)->setText("changed");
      if (escape) {
        QTest::keyClick(Edit(1003), Qt::Key_Escape);
      } else {
        QTest::mouseClick(Button(2), Qt::LeftButton);
      }
    });
    ConfigFields fields{"10.0.0.5", "4660", "localhost", "root", "pw"};
    QVERIFY(!dialog_->DoModal(&fields));
    QCOMPARE(fields.server, std::string("10.0.0.5"));
  }

  // The store reads back values of at most 99 bytes; the dialog hands its
  // texts over in UTF-8, where a character may take up to three of them.
  void fieldsHoldAtMostTheBytesTheStoreReadsBack_data() {
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("fitting");
    QTest::newRow("one byte") << QStringLiteral("7") << 99;
    QTest::newRow("two bytes") << QStringLiteral("\u00e9") << 49;
    QTest::newRow("three bytes") << QStringLiteral("\u20ac") << 33;
  }
  void fieldsHoldAtMostTheBytesTheStoreReadsBack() {
    QFETCH(QString, character);
    QFETCH(int, fitting);
    for (const int id : {1003, 1004, 1005, 1007, 1008}) {
      Edit(id)->clear();
      Edit(id)->setFocus();
      // Typed key by key (QTest::keyClicks knows ASCII only).
      for (int i = 0; i < 120; ++i) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(Edit(id), &key);
      }
      QCOMPARE(Edit(id)->text(), character.repeated(fitting));
    }
    const ConfigFields fields = dialog_->Fields();
    for (const std::string* text :
         {&fields.server, &fields.port, &fields.mysql_server, &fields.user, &fields.password}) {
      QVERIFY(text->size() <= ConfigLayout::kMaxValueLength);
    }
  }

  void resetDbAsksItsRunnerWithoutClosing() {
    // The deletion itself runs through the model (the main window's tests).
    const QSignalSpy clicked(dialog_.get(), &CConfigDlg::resetDbClicked);
    Edit(1005)->setText("db.example");
    QTest::mouseClick(Button(1009), Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(dialog_->Fields().mysql_server, std::string("db.example"));
    QCOMPARE(dialog_->result(), 0);
  }
};

}  // namespace callsink

QTEST_MAIN(callsink::tst_CConfigDlg)
#include "config_dlg_test.moc"
