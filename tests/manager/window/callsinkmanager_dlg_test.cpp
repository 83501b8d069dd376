#include "manager/window/callsinkmanager_dlg.h"

#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <memory>
#include <vector>

#include "config/config_layout.h"
#include "manager/config_store.h"
#include "manager/connection_state.h"
#include "manager/window/about_dlg.h"
#include "manager/window/config_dlg.h"
#include "manager/window/dialog_units.h"
#include "manager/window/list_box_ch.h"
#include "manager/window/state_icons.h"
#include "platform/registry.h"
#include "tests/manager/manager_fakes.h"
#include "tests/manager/window/window_test_support.h"

namespace callsink {
namespace {

constexpr const char* kAppFolder = "/opt/callsink/";
const std::string kTooltip = CManagerModel::kTooltipPrefix;

ConfigRow Row(const std::string& server, const std::string& status = "N-N") {
  return {server, "4660", "localhost", "root", "secret", status};
}

QStringList Strings(const std::vector<std::string>& texts) {
  QStringList strings;
  for (const std::string& text : texts) strings << QString::fromStdString(text);
  return strings;
}

}  // namespace

class tst_CcallsinkmanagerDlg : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> root_;
  test::FakeServiceProbe service_;
  test::RecordingLauncher launcher_;
  test::RecordingRebooter rebooter_;
  std::vector<std::chrono::milliseconds> pauses_;
  test::ScriptedMessages messages_;
  bool tray_available_ = false;
  std::unique_ptr<CcallsinkmanagerDlg> window_;
  int last_width_ = 0;

  // Where programs started with CALLSINK_ROOT=root_ find the store.
  std::string RegistryFile() const {
    return root_->filePath("var/lib/callsink/registry.db").toStdString();
  }
  // Runs callsinkctl on the window's store, as another administrator
  // would beside the window.
  void Callsinkctl(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CALLSINK_ROOT"), root_->path());
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("CALLSINK_BIN") + QStringLiteral("/callsinkctl"), arguments);
    QVERIFY(process.waitForFinished(10000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
  }
  // What happens behind a modal step's back: another program changes the
  // store, and the timer's reload shows it while the step waits.
  void MeanwhileRun(const QStringList& arguments) {
    Callsinkctl(arguments);
    QEventLoop nested;
    QTimer::singleShot(0, window_.get(), &CcallsinkmanagerDlg::OnTimer);
    QTimer::singleShot(0, &nested, &QEventLoop::quit);
    nested.exec();
  }

  void Open(const std::string& command_line = "") {
    window_ = std::make_unique<CcallsinkmanagerDlg>(
        RegistryFile(), kAppFolder,
        ManagerSystem{service_, launcher_, rebooter_,
                      [this](std::chrono::milliseconds pause) { pauses_.push_back(pause); }},
        CcallsinkmanagerDlg::Desktop{messages_.Function(), [this] { return tray_available_; }},
        command_line);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  // The configuration store as the collector or an administrator sees it.
  void WriteRows(const std::vector<ConfigRow>& rows) {
    Registry store(RegistryFile());
    QVERIFY(store.Open(Registry::OpenMode::kCreate));
    QVERIFY(ConfigStore::Write(store, rows));
  }
  std::vector<ConfigRow> ReadRows() {
    std::vector<ConfigRow> rows;
    Registry store(RegistryFile());
    if (store.Open(Registry::OpenMode::kExisting)) ConfigStore::Read(store, &rows);
    return rows;
  }
  bool HasConfigsKey() {
    Registry store(RegistryFile());
    return store.Open(Registry::OpenMode::kExisting) && store.KeyExists(ConfigLayout::kConfigsKey);
  }
  // What a running collector does: writes one configuration's Status.
  void WriteStatus(int number, const std::string& status) {
    Registry store(RegistryFile());
    QVERIFY(store.Open(Registry::OpenMode::kExisting));
    QVERIFY(store.SetValue(ConfigLayout::ConfigKey(number), ConfigLayout::kStatus, status));
  }

  QPushButton* Button(int id) const {
    return window_->findChild<QPushButton*>(QStringLiteral("button_%1").arg(id));
  }
  CListBoxCH* List() const { return window_->findChild<CListBoxCH*>(QStringLiteral("list_1000")); }
  QString StatusText() const {
    return window_->findChild<QLineEdit*>(QStringLiteral("edit_1012"))->text();
  }
  void ClickRow(int row) {
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(20, row * CListBoxCH::kRowHeight + 10));
  }
  QStringList Servers() {
    QStringList servers;
    for (const ConfigRow& row : ReadRows()) servers << QString::fromStdString(row[kAcdServer]);
    return servers;
  }
  qint64 IconOfRow(int row) const { return List()->GetItem(row)->hIcon.cacheKey(); }
  static qint64 Icon(int icon_id) { return StateIcons::Pixmap(icon_id).cacheKey(); }
  int Shown(MessageKind kind) const {
    return static_cast<int>(std::count(messages_.kinds.begin(), messages_.kinds.end(), kind));
  }
  // Runs `click` and reports whether it opened a modal dialog (closing it).
  bool OpensADialog(const std::function<void()>& click) {
    bool opened = false;
    QTimer::singleShot(0, [&opened] {
      if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        opened = true;
        modal->reject();
      }
    });
    click();
    QTest::qWait(1);
    return opened;
  }

 private slots:
  void init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    service_ = test::FakeServiceProbe();
    launcher_ = test::RecordingLauncher();
    rebooter_ = test::RecordingRebooter();
    pauses_.clear();
    messages_ = test::ScriptedMessages();
    tray_available_ = false;
  }
  void cleanup() {
    window_.reset();
    root_.reset();
  }

  void showsItsCaptionGroupsAndButtons() {
    Open();
    QCOMPARE(window_->windowTitle(), QStringLiteral("callsinkmanager"));
    QVERIFY(!window_->windowIcon().isNull());
    QStringList groups;
    for (const QGroupBox* group : window_->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
      groups << group->title();
    groups.sort();
    QCOMPARE(groups, QStringList({"Configurations", "Selected connection status "}));
    const QList<std::pair<int, QString>> buttons = {
        {1002, "Add"}, {1003, "Edit"}, {1004, "Remove"}, {1005, "Apply"}, {1007, "Hide"}};
    for (const auto& [id, caption] : buttons) {
      QCOMPARE(Button(id)->text(), caption);
      QVERIFY2(!Button(id)->isDefault(), qPrintable(caption));
    }
    QVERIFY(List() != nullptr);
    QVERIFY(window_->findChild<QLineEdit*>(QStringLiteral("edit_1012"))->isReadOnly());
    QCOMPARE(window_->tray_menu().actions().size(), 1);
    QCOMPARE(window_->tray_menu().actions()[0]->text(), QStringLiteral("E&xit"));
  }

  void sizesFollowTheDialogUnitsOfTheFont_data() {
    QTest::addColumn<int>("point_size");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("16 pt") << 16;
  }
  void sizesFollowTheDialogUnitsOfTheFont() {
    QFETCH(int, point_size);
    const QFont original = QApplication::font();
    QFont font = original;
    font.setPointSize(point_size);
    QApplication::setFont(font);
    Open();
    QApplication::setFont(original);
    const DialogUnits units(font);
    QCOMPARE(window_->size(), units.Size(324, 166));
    QCOMPARE(List()->geometry(), units.Rect(14, 19, 296, 84));
    QCOMPARE(Button(1007)->geometry(), units.Rect(267, 144, 50, 14));
    QVERIFY(window_->width() > last_width_);
    last_width_ = window_->width();
  }

  void anEmptyStoreShowsAnEmptyList() {
    Open();
    QCOMPARE(List()->GetCount(), 0);
    QVERIFY(Button(1002)->isEnabled());
    QVERIFY(!Button(1003)->isEnabled());
    QVERIFY(!Button(1004)->isEnabled());
    QCOMPARE(StatusText(), QString());
    QVERIFY(!window_->tray().IsAdded());
    QVERIFY(window_->timer().isActive());
    QCOMPARE(window_->timer().interval(), 5000);
    QVERIFY(!window_->timer().isSingleShot());
  }

  void aCountOfZeroAddsTheTrayIconWithAnEmptyState() {
    WriteRows({});
    Open();
    QCOMPARE(List()->GetCount(), 0);
    QVERIFY(window_->tray().IsAdded());
    QCOMPARE(window_->tray().ToolTip(), QString::fromStdString(kTooltip));
    QCOMPARE(window_->tray().IconId(), ConnectionState::kIconDown);
  }

  void addWritesTheTypedConfigurationWithStatusNN() {
    Open();
    QStringList shown;
    bool masked = false;
    test::AnswerNextModal<CConfigDlg>([&](CConfigDlg& dialog) {
      for (const int id : {1003, 1004, 1005, 1007, 1008}) {
        shown << dialog.findChild<QLineEdit*>(QStringLiteral("edit_%1").arg(id))->text();
      }
      auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("edit_1008"));
      masked = password->echoMode() == QLineEdit::Password;
      dialog.findChild<QLineEdit*>(QStringLiteral("edit_1003"))->setText("10.0.0.5");
      password->setText("pw");
      QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("button_1")), Qt::LeftButton);
    });
    QTest::mouseClick(Button(1002), Qt::LeftButton);
    QCOMPARE(shown, QStringList({"", "4660", "localhost", "root", ""}));
    QVERIFY(masked);
    QCOMPARE(ReadRows(),
             std::vector<ConfigRow>({{"10.0.0.5", "4660", "localhost", "root", "pw", "N-N"}}));
    QCOMPARE(List()->GetCount(), 1);
    QCOMPARE(List()->GetItem(0)->szText,
             QStringLiteral("ACD (10.0.0.5 : 4660) -> MYSQL (localhost : 3306 )"));
    QVERIFY(Button(1003)->isEnabled());
    QVERIFY(Button(1004)->isEnabled());
    QCOMPARE(StatusText(), QStringLiteral("Service stopped"));
    QVERIFY(window_->tray().IsAdded());
    QCOMPARE(window_->tray().ToolTip(), QStringLiteral("ACD service status: Service stopped"));
  }

  void cancelledAddChangesNothing() {
    Open();
    test::AnswerNextModal<CConfigDlg>([](CConfigDlg& dialog) {
      dialog.findChild<QLineEdit*>(QStringLiteral("edit_1003"))->setText("10.0.0.5");
      QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("button_2")), Qt::LeftButton);
    });
    QTest::mouseClick(Button(1002), Qt::LeftButton);
    QVERIFY(!HasConfigsKey());
    QCOMPARE(List()->GetCount(), 0);
    QVERIFY(!Button(1003)->isEnabled());
    QVERIFY(!window_->tray().IsAdded());
  }

  void addRefusesTheHundredthConfiguration() {
    WriteRows(std::vector<ConfigRow>(99, Row("10.0.0.5")));
    Open();
    QVERIFY(!OpensADialog([this] { QTest::mouseClick(Button(1002), Qt::LeftButton); }));
    QCOMPARE(messages_.shown, std::vector<std::string>({"No more configs!"}));
    QCOMPARE(ReadRows().size(), size_t{99});
  }

  void resetDbOfTheConfigDialogReportsAServerItCannotReach() {
    Open();
    // The typed values are used, saved or not: a MySQL server on a socket
    // that does not exist.
    qputenv("MYSQL_UNIX_PORT", QByteArray(qgetenv("CALLSINK_ROOT") + "/no-such-mysqld.sock"));
    test::AnswerNextModal<CConfigDlg>([](CConfigDlg& dialog) {
      dialog.findChild<QLineEdit*>(QStringLiteral("edit_1005"))->setText("localhost");
      QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("button_1009")),
                        Qt::LeftButton);
    });
    QTest::mouseClick(Button(1002), Qt::LeftButton);
    QCOMPARE(messages_.shown.size(), size_t{1});
    QVERIFY2(messages_.shown[0].starts_with("Connection failed: "), messages_.shown[0].c_str());
    QVERIFY(messages_.shown[0].size() > std::string("Connection failed: ").size());
    QCOMPARE(messages_.kinds[0], MessageKind::kNotice);
    QVERIFY(!HasConfigsKey());
  }

  void editChangesTheTextsAndKeepsTheStatus() {
    WriteRows({Row("10.0.0.5", "Y-Y"), Row("10.0.0.6", "N-Y")});
    service_.running = true;
    Open();
    ClickRow(1);
    QStringList shown;
    test::AnswerNextModal<CConfigDlg>([&](CConfigDlg& dialog) {
      for (const int id : {1003, 1004, 1005, 1007, 1008}) {
        shown << dialog.findChild<QLineEdit*>(QStringLiteral("edit_%1").arg(id))->text();
      }
      dialog.findChild<QLineEdit*>(QStringLiteral("edit_1004"))->setText("4999");
      QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("button_1")), Qt::LeftButton);
    });
    QTest::mouseClick(Button(1003), Qt::LeftButton);
    QCOMPARE(shown, QStringList({"10.0.0.6", "4660", "localhost", "root", "secret"}));
    ConfigRow edited = Row("10.0.0.6", "N-Y");
    edited[kAcdPort] = "4999";
    QCOMPARE(ReadRows(), std::vector<ConfigRow>({Row("10.0.0.5", "Y-Y"), edited}));
    QCOMPARE(List()->GetItem(1)->szText,
             QStringLiteral("ACD (10.0.0.6 : 4999) -> MYSQL (localhost : 3306 )"));
  }

  void cancelledEditChangesNothing() {
    WriteRows({Row("10.0.0.5", "Y-Y")});
    Open();
    test::AnswerNextModal<CConfigDlg>([](CConfigDlg& dialog) {
      dialog.findChild<QLineEdit*>(QStringLiteral("edit_1003"))->setText("changed");
      dialog.reject();
    });
    QTest::mouseClick(Button(1003), Qt::LeftButton);
    QCOMPARE(ReadRows(), std::vector<ConfigRow>({Row("10.0.0.5", "Y-Y")}));
  }

  void removeAsksAndReselects_data() {
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<int>("selection");
    QTest::newRow("the last of three") << 2 << true << QStringList({"a", "b"}) << 1;
    QTest::newRow("the middle one") << 1 << true << QStringList({"a", "c"}) << 1;
    QTest::newRow("the first one") << 0 << true << QStringList({"b", "c"}) << 0;
    QTest::newRow("answered No") << 1 << false << QStringList({"a", "b", "c"}) << 1;
  }
  void removeAsksAndReselects() {
    QFETCH(int, selected);
    QFETCH(bool, yes);
    QFETCH(QStringList, remaining);
    QFETCH(int, selection);
    WriteRows({Row("a", "Y-N"), Row("b", "N-Y"), Row("c", "Y-Y")});
    service_.running = true;
    Open();
    ClickRow(selected);
    messages_.answers = {yes ? MessageAnswer::kYes : MessageAnswer::kNo};
    QTest::mouseClick(Button(1004), Qt::LeftButton);
    QCOMPARE(messages_.shown, std::vector<std::string>({"Are you sure?"}));
    QCOMPARE(messages_.kinds, std::vector<MessageKind>({MessageKind::kConfirm}));
    QCOMPARE(Servers(), remaining);
    QCOMPARE(List()->GetCount(), int(remaining.size()));
    QCOMPARE(List()->GetSel(), selection);
    QCOMPARE(List()->GetCurSel(), selection);
    const std::string status = ReadRows()[size_t(selection)][kStatus];
    QCOMPARE(StatusText().toStdString(), ConnectionState::FromStatus(status).text);
  }

  void removingTheOnlyRowEmptiesTheWindow() {
    WriteRows({Row("10.0.0.5", "Y-Y")});
    service_.running = true;
    Open();
    QCOMPARE(window_->tray().IconId(), ConnectionState::kIconBoth);
    messages_.answers = {MessageAnswer::kYes};
    QTest::mouseClick(Button(1004), Qt::LeftButton);
    QVERIFY(ReadRows().empty());
    QVERIFY(HasConfigsKey());
    QCOMPARE(List()->GetCount(), 0);
    QVERIFY(!Button(1003)->isEnabled());
    QVERIFY(!Button(1004)->isEnabled());
    QCOMPARE(StatusText(), QString());
    QCOMPARE(window_->tray().ToolTip(), QString::fromStdString(kTooltip));
    QCOMPARE(window_->tray().IconId(), ConnectionState::kIconDown);
  }

  void hideWithAnEmptyListSaysNoConnectionSelected() {
    tray_available_ = true;
    Open();
    QTest::mouseClick(Button(1007), Qt::LeftButton);
    QCOMPARE(messages_.shown, std::vector<std::string>({"No connection selected"}));
    QVERIFY(window_->isVisible());
  }

  void hideLeavesTheTrayIconAndALeftClickBringsTheWindowBack() {
    tray_available_ = true;
    WriteRows({Row("10.0.0.5")});
    Open();
    QTest::mouseClick(Button(1007), Qt::LeftButton);
    QVERIFY(messages_.shown.empty());
    QVERIFY(!window_->isVisible());
    QVERIFY(window_->timer().isActive());
    QVERIFY(window_->tray().IsAdded());
    window_->OnTrayNotify(QSystemTrayIcon::Trigger);
    QVERIFY(window_->isVisible());
  }

  void hideWithoutATrayHostSaysSoAndKeepsTheWindow() {
    WriteRows({Row("10.0.0.5")});
    Open();
    QTest::mouseClick(Button(1007), Qt::LeftButton);
    QCOMPARE(messages_.shown, std::vector<std::string>({CcallsinkmanagerDlg::kNoTray}));
    QVERIFY(window_->isVisible());
  }

  void theRefreshFollowsTheStatusWrittenBehindItsBack_data() {
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    QTest::newRow("Y-N") << "Y-N" << true << "Halvern connected, Database disconnected"
                         << ConnectionState::kIconAcdOnly;
    QTest::newRow("N-Y") << "N-Y" << true << "Halvern disconnected, Database connected"
                         << ConnectionState::kIconDatabaseOnly;
    QTest::newRow("Y-Y") << "Y-Y" << true << "Halvern connected, Database connected"
                         << ConnectionState::kIconBoth;
    QTest::newRow("N-N") << "N-N" << true << "Halvern disconnected, Database disconnected"
                         << ConnectionState::kIconDown;
    QTest::newRow("empty") << "" << true << "Halvern disconnected, Database disconnected"
                           << ConnectionState::kIconDown;
    QTest::newRow("lower case") << "y-y" << true << "Halvern disconnected, Database disconnected"
                                << ConnectionState::kIconDown;
    QTest::newRow("service stopped")
        << "Y-Y" << false << "Service stopped" << ConnectionState::kIconDown;
  }
  void theRefreshFollowsTheStatusWrittenBehindItsBack() {
    QFETCH(QString, status);
    QFETCH(bool, running);
    QFETCH(QString, text);
    QFETCH(int, icon);
    WriteRows({Row("10.0.0.5", "N-N")});
    service_.running = true;
    Open();
    WriteStatus(1, status.toStdString());
    service_.running = running;
    window_->OnTimer();
    QCOMPARE(StatusText(), text);
    QCOMPARE(IconOfRow(0), Icon(icon));
    QCOMPARE(window_->tray().ToolTip(), QString::fromStdString(kTooltip) + text);
    QCOMPARE(window_->tray().IconId(), icon);
  }

  void eachRowShowsItsOwnStateAndAClickShowsItsText() {
    WriteRows({Row("a", "Y-N"), Row("b", "N-Y"), Row("c", "N-N"), Row("d", "Y-Y")});
    service_.running = true;
    Open();
    const int icons[] = {ConnectionState::kIconAcdOnly, ConnectionState::kIconDatabaseOnly,
                         ConnectionState::kIconDown, ConnectionState::kIconBoth};
    for (int row = 0; row < 4; ++row) QCOMPARE(IconOfRow(row), Icon(icons[row]));
    ClickRow(1);
    QCOMPARE(List()->GetSel(), 1);
    QCOMPARE(StatusText(), QStringLiteral("Halvern disconnected, Database connected"));
    QCOMPARE(window_->tray().IconId(), ConnectionState::kIconDatabaseOnly);
  }

  void applyStopsAndThenStartsTheCollector() {
    Open();
    QTest::mouseClick(Button(1005), Qt::LeftButton);
    QCOMPARE(launcher_.launches, std::vector<test::Launch>({{kAppFolder, "callsink", "-stop"},
                                                            {kAppFolder, "callsink", "-start"}}));
    QCOMPARE(pauses_, std::vector<std::chrono::milliseconds>({std::chrono::milliseconds(4000)}));
    QCOMPARE(messages_.shown, std::vector<std::string>({"Service restarted"}));
  }

  void applyReportsACollectorThatCannotBeStarted() {
    launcher_.results = {2};
    Open();
    QTest::mouseClick(Button(1005), Qt::LeftButton);
    QCOMPARE(launcher_.launches.size(), size_t{1});
    QCOMPARE(messages_.shown,
             std::vector<std::string>({"Apply failed ( Reason : the ACD service executable file "
                                       "is not found ), try to restart service manually"}));
  }

  // Re-entrancy: while "Are you sure?" or the configuration dialog waits in
  // its own event loop, another program rewrites the layout and the timer
  // reloads the list. The step then touches no row but the one it was
  // about, and says so when that one is gone or changed.
  void aModalStepTouchesOnlyTheRowItWasAbout_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("meanwhile");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("said");
    const QString changed =
        QStringLiteral("The configuration was changed or removed meanwhile; nothing was changed");
    QTest::newRow("Remove of a row removed meanwhile")
        << 1004 << 1 << 0 << QStringList({"remove", "1", "--yes"}) << QStringList() << changed;
    QTest::newRow("Remove of a row that moved up")
        << 1004 << 3 << 1 << QStringList({"remove", "1", "--yes"})
        << QStringList({"10.0.0.2", "10.0.0.3"}) << changed;
    QTest::newRow("Edit of a row that moved up")
        << 1003 << 3 << 1 << QStringList({"remove", "1", "--yes"})
        << QStringList({"10.0.0.2", "10.0.0.3"}) << changed;
    QTest::newRow("Add beside a 99th configuration added meanwhile")
        << 1002 << 98 << 0 << QStringList({"add", "--server", "10.9.9.9"}) << QStringList()
        << QStringLiteral("No more configs!");
  }
  void aModalStepTouchesOnlyTheRowItWasAbout() {
    QFETCH(int, button);
    QFETCH(int, rows);
    QFETCH(int, selected);
    QFETCH(QStringList, meanwhile);
    QFETCH(QStringList, stored);
    QFETCH(QString, said);
    std::vector<ConfigRow> layout;
    for (int i = 1; i <= rows; ++i) layout.push_back(Row("10.0.0." + std::to_string(i)));
    WriteRows(layout);
    Open();
    ClickRow(selected);
    if (button == 1004) {
      messages_.answers = {MessageAnswer::kYes};
      messages_.while_asking = [&] { MeanwhileRun(meanwhile); };
    } else {
      test::AnswerNextModal<CConfigDlg>([&](CConfigDlg& dialog) {
        MeanwhileRun(meanwhile);
        dialog.findChild<QLineEdit*>(QStringLiteral("edit_1003"))->setText("10.0.0.99");
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("button_1")),
                          Qt::LeftButton);
      });
    }
    QTest::mouseClick(Button(button), Qt::LeftButton);
    QVERIFY(!messages_.shown.empty());
    QCOMPARE(QString::fromStdString(messages_.shown.back()), said);
    if (button == 1002) {
      QCOMPARE(ReadRows().size(), size_t{99});
      QCOMPARE(ReadRows().back()[kAcdServer], std::string("10.9.9.9"));
    } else {
      QCOMPARE(Servers(), stored);
    }
    QCOMPARE(List()->GetCount(), int(ReadRows().size()));
  }

  void theRestartOfferFollowsTheCommandLine_data() {
    QTest::addColumn<QString>("command_line");
    QTest::addColumn<int>("offers");
    QTest::newRow("restart") << "restart" << 1;
    QTest::newRow("other letter case") << "Restart" << 0;
    QTest::newRow("more words") << "restart now" << 0;
    QTest::newRow("none") << "" << 0;
  }
  void theRestartOfferFollowsTheCommandLine() {
    QFETCH(QString, command_line);
    QFETCH(int, offers);
    Open(command_line.toStdString());
    QSignalSpy finished(window_.get(), &QDialog::finished);
    window_->close();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(Shown(MessageKind::kRebootOffer), offers);
    QCOMPARE(rebooter_.requests, 0);
    QVERIFY(!window_->timer().isActive());
  }

  void aRestartThatIsRefusedSaysSo() {
    messages_.answers = {MessageAnswer::kYes};
    Open("restart");
    window_->reject();
    QCOMPARE(rebooter_.requests, 1);
    QCOMPARE(Strings(messages_.shown),
             QStringList({"We strongly recommend to restart the computer. Restart now?",
                          "Restart failed, please restart manually"}));
  }

  void exitFromTheTrayMenuEndsTheWindowAndOffersTheRestartOnce() {
    WriteRows({Row("10.0.0.5")});
    Open("restart");
    QVERIFY(window_->tray().IsAdded());
    QSignalSpy finished(window_.get(), &QDialog::finished);
    test::ChooseInNextMenu(QStringLiteral("E&xit"));
    window_->ShowTrayMenu();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(Shown(MessageKind::kRebootOffer), 1);
    QVERIFY(!window_->tray().IsAdded());
  }

  void theWindowEndsByItsDialogKeys_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Enter") << int(Qt::Key_Return);
  }
  void theWindowEndsByItsDialogKeys() {
    QFETCH(int, key);
    WriteRows({Row("10.0.0.5")});
    Open();
    List()->setFocus();
    QSignalSpy finished(window_.get(), &QDialog::finished);
    QTest::keyClick(List(), static_cast<Qt::Key>(key));
    QCOMPARE(finished.count(), 1);
    QVERIFY(!window_->tray().IsAdded());
  }

  void enterOnAFocusedButtonClicksIt() {
    Open();
    Button(1002)->setFocus();
    QSignalSpy finished(window_.get(), &QDialog::finished);
    QVERIFY(OpensADialog([this] { QTest::keyClick(Button(1002), Qt::Key_Return); }));
    QCOMPARE(finished.count(), 0);
  }

  void theAboutBoxOpensFromTheContextMenuAndWithF1_data() {
    QTest::addColumn<bool>("context_menu");
    QTest::newRow("context menu") << true;
    QTest::newRow("F1") << false;
  }
  void theAboutBoxOpensFromTheContextMenuAndWithF1() {
    QFETCH(bool, context_menu);
    Open();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QString title;
    QStringList lines;
    bool has_icon = false;
    if (context_menu) test::ChooseInNextMenu(QStringLiteral("&About callsinkmanager..."));
    test::AnswerNextModal<CAboutDlg>([&](CAboutDlg& about) {
      title = about.windowTitle();
      for (const QLabel* label : about.findChildren<QLabel*>()) {
        if (label->pixmap().isNull()) {
          lines << label->text();
        } else {
          has_icon = true;
        }
      }
      QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("button_1")), Qt::LeftButton);
    });
    if (context_menu) {
      QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                              window_->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(window_.get(), &event);
    } else {
      QTest::keyClick(window_.get(), Qt::Key_F1);
    }
    QCOMPARE(title, QStringLiteral("About callsinkmanager"));
    QCOMPARE(lines, QStringList({"ACD service manager Version 1.11"}));
    QVERIFY(has_icon);
  }
};

}  // namespace callsink

QTEST_MAIN(callsink::tst_CcallsinkmanagerDlg)
#include "callsinkmanager_dlg_test.moc"
