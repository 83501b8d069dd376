#include "manager/window/data_drop_dlg.h"

#include <mysql.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

#include "manager/window/callsinkmanager_dlg.h"
#include "manager/window/config_dlg.h"
#include "manager/window/dialog_units.h"
#include "platform/activity_log.h"
#include "store/acd_database.h"
#include "tests/manager/window/window_test_support.h"
#include "tests/support/mariadb_env.h"

namespace callsink {
namespace {

// Names of ACD servers that only this program writes into the shared
// server's acd_db.
const std::string kFirstServer = "10.251.0.5";
const std::string kSecondServer = "10.251.0.6";

QComboBox* Combo(QWidget* dialog) {
  return dialog->findChild<QComboBox*>(QStringLiteral("combo_1010"));
}
QLineEdit* Edit(QWidget* dialog, int id) {
  return dialog->findChild<QLineEdit*>(QStringLiteral("edit_%1").arg(id));
}
QPushButton* Button(QWidget* dialog, int id) {
  return dialog->findChild<QPushButton*>(QStringLiteral("button_%1").arg(id));
}
QStringList Entries(QComboBox* combo) {
  QStringList entries;
  for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
  return entries;
}

}  // namespace

class tst_CDataDropDlg : public QObject {
  Q_OBJECT

 private:
  std::optional<test::MariaDbEnv> env_;

  // Fails in CI and skips elsewhere when the fixture's server is missing.
  bool HasServer() {
    if (env_) return true;
    if (test::RunsInCi()) QTest::qFail("no private MariaDB server", __FILE__, __LINE__);
    return false;
  }
  // The collector's own store writes a group and an agent of `server`.
  void AddServer(const std::string& server) {
    ActivityLog log;
    AcdDatabase store(&log);
    QVERIFY(store.Connect("localhost", env_->admin_user, env_->admin_password));
    QVERIFY(store.CreateTables());
    QVERIFY(store.WriteGroup(server, "Sales", 0, 1, false, 0));
    QVERIFY(store.WriteAgent(server, "4711", "Ann Example", 0, 1, false));
  }
  // Rows of `server` in stock_groups and stock_agents together.
  int RowsOf(const std::string& server) {
    MYSQL* mysql = mysql_init(nullptr);
    int rows = -1;
    if (mysql_real_connect(mysql, "localhost", env_->admin_user.c_str(),
                           env_->admin_password.c_str(), "acd_db", 0, nullptr, 0) != nullptr) {
      const std::string query =
          "select (select count(*) from stock_groups where Serv_Name='" + server +
          "') + (select count(*) from stock_agents where Serv_Name='" + server + "')";
      if (mysql_query(mysql, query.c_str()) == 0) {
        MYSQL_RES* result = mysql_store_result(mysql);
        if (MYSQL_ROW row = mysql_fetch_row(result)) rows = std::atoi(row[0]);
        mysql_free_result(result);
      }
    }
    mysql_close(mysql);
    return rows;
  }
  // "Reset DB" of the main window's configuration dialog ("Add", never
  // saved) filled in with the fixture's administrator; `answer` handles the
  // drop dialog. Returns the messages shown.
  std::vector<std::string> ResetDb(const std::function<void(CDataDropDlg&)>& answer) {
    test::ScriptedMessages messages;
    test::FakeServiceProbe service;
    test::RecordingLauncher launcher;
    test::RecordingRebooter rebooter;
    const QTemporaryDir root;
    CcallsinkmanagerDlg window(root.filePath("registry.db").toStdString(), "/opt/callsink/",
                               ManagerSystem{service, launcher, rebooter, [](auto) {}},
                               {messages.Function(), [] { return false; }}, "");
    test::AnswerNextModal<CConfigDlg>([&](CConfigDlg& config) {
      config.SetFields({"10.0.0.1", "4660", "localhost", env_->admin_user, env_->admin_password});
      test::AnswerNextModal<CDataDropDlg>(answer);
      QTest::mouseClick(Button(&config, 1009), Qt::LeftButton);
    });
    QTest::mouseClick(Button(&window, 1002), Qt::LeftButton);
    return messages.shown;
  }

 private slots:
  void initTestCase() {
    env_ = test::MariaDbEnv::Load();
    if (env_) env_->ExportToClientLibrary();
  }

  void showsItsCaptionAndControls() {
    CDataDropDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Database delete"));
    QCOMPARE(dialog.findChild<QGroupBox*>()->title(),
             QStringLiteral("Are you sure to proceed with data drop?"));
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    QCOMPARE(labels, QStringList({"MySQL server", "Halvern IP"}));
    QVERIFY(Edit(&dialog, 1005)->isReadOnly());
    QVERIFY(!Combo(&dialog)->isEditable());
    QCOMPARE(Button(&dialog, 1)->text(), QStringLiteral("Delete"));
    QCOMPARE(Button(&dialog, 2)->text(), QStringLiteral("Cancel"));
    QVERIFY(Button(&dialog, 1)->isDefault());
    const DialogUnits units(dialog.font());
    QCOMPARE(dialog.size(), units.Size(169, 84));
    QCOMPARE(Edit(&dialog, 1005)->geometry(), units.Rect(69, 22, 80, 14));
  }

  void offersTheChoicesWithAllPreselected_data() {
    QTest::addColumn<int>("choose");
    QTest::addColumn<bool>("delete_clicked");
    QTest::addColumn<int>("result");
    QTest::newRow("Delete keeps All") << -1 << true << 0;
    QTest::newRow("Delete with the second server") << 2 << true << 2;
    QTest::newRow("Cancel") << 1 << false << -1;
  }
  void offersTheChoicesWithAllPreselected() {
    QFETCH(int, choose);
    QFETCH(bool, delete_clicked);
    QFETCH(int, result);
    CDataDropDlg dialog;
    QStringList entries;
    int preselected = -2;
    QString server;
    test::AnswerNextModal<CDataDropDlg>([&](CDataDropDlg& shown) {
      entries = Entries(Combo(&shown));
      preselected = Combo(&shown)->currentIndex();
      server = Edit(&shown, 1005)->text();
      if (choose >= 0) Combo(&shown)->setCurrentIndex(choose);
      QTest::mouseClick(Button(&shown, delete_clicked ? 1 : 2), Qt::LeftButton);
    });
    const std::optional<size_t> chosen = dialog.DoModal("db.example", {"All", "a", "b"});
    QCOMPARE(entries, QStringList({"All", "a", "b"}));
    QCOMPARE(preselected, 0);
    QCOMPARE(server, QStringLiteral("db.example"));
    QCOMPARE(chosen.has_value(), result >= 0);
    if (chosen) QCOMPARE(*chosen, size_t(result));
  }

  void progressShowsEachTablesRowsSoFarUntilTheEnd() {
    QWidget window;
    CDataDropDlg dialog(&window);
    test::AnswerNextModal<CDataDropDlg>([&](CDataDropDlg& shown) {
      Combo(&shown)->setCurrentIndex(1);
      QTest::mouseClick(Button(&shown, 1), Qt::LeftButton);
    });
    QVERIFY(dialog.DoModal("db.example", {"All", "10.0.0.5"}));
    dialog.ShowProgress("stock_calls", 10000);
    dialog.ShowProgress("stock_calls", 12000);
    dialog.ShowProgress("stock_cdr", 5);
    QVERIFY(dialog.progress() != nullptr);
    QVERIFY(dialog.progress()->isVisible());
    QCOMPARE(dialog.progress()->labelText(),
             QStringLiteral("Rows deleted of 10.0.0.5:\nstock_calls: 12000\nstock_cdr: 5"));
    dialog.EndProgress();
    QVERIFY(dialog.progress() == nullptr);
  }

  void resetDbListsTheServerNamesOfTheDatabase() {
    if (!HasServer()) QSKIP("no private MariaDB server (the CTest fixture mariadb)");
    AddServer(kFirstServer);
    AddServer(kSecondServer);
    QStringList entries;
    QString shown_server;
    const std::vector<std::string> messages = ResetDb([&](CDataDropDlg& dialog) {
      entries = Entries(Combo(&dialog));
      shown_server = Edit(&dialog, 1005)->text();
      QTest::mouseClick(Button(&dialog, 2), Qt::LeftButton);
    });
    QVERIFY(!entries.isEmpty());
    QCOMPARE(entries.first(), QStringLiteral("All"));
    QCOMPARE(entries.count(QString::fromStdString(kFirstServer)), 1);
    QCOMPARE(entries.count(QString::fromStdString(kSecondServer)), 1);
    QCOMPARE(shown_server, QStringLiteral("localhost"));
    QVERIFY(messages.empty());
    QCOMPARE(RowsOf(kFirstServer), 2);
  }

  void deleteRemovesTheChosenServersRowsOnly() {
    if (!HasServer()) QSKIP("no private MariaDB server (the CTest fixture mariadb)");
    AddServer(kFirstServer);
    AddServer(kSecondServer);
    const std::vector<std::string> messages = ResetDb([&](CDataDropDlg& dialog) {
      QComboBox* combo = Combo(&dialog);
      combo->setCurrentIndex(combo->findText(QString::fromStdString(kFirstServer)));
      QTest::mouseClick(Button(&dialog, 1), Qt::LeftButton);
    });
    QCOMPARE(messages, std::vector<std::string>({"Information deleted"}));
    QCOMPARE(RowsOf(kFirstServer), 0);
    QCOMPARE(RowsOf(kSecondServer), 2);
  }

  void cleanupTestCase() {
    if (!env_) return;
    MYSQL* mysql = mysql_init(nullptr);
    if (mysql_real_connect(mysql, "localhost", env_->admin_user.c_str(),
                           env_->admin_password.c_str(), "acd_db", 0, nullptr, 0) != nullptr) {
      for (const std::string& server : {kFirstServer, kSecondServer}) {
        for (const char* table : {"stock_groups", "stock_agents", "stock_relations"}) {
          const std::string statement =
              std::string("delete from ") + table + " where Serv_Name='" + server + "'";
          mysql_query(mysql, statement.c_str());
        }
      }
    }
    mysql_close(mysql);
  }
};

}  // namespace callsink

QTEST_MAIN(callsink::tst_CDataDropDlg)
#include "data_drop_dlg_test.moc"
