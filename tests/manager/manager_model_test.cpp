#include "manager/manager_model.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "manager/connection_state.h"
#include "manager/memory_status_list.h"
#include "platform/registry.h"
#include "tests/manager/manager_fakes.h"
#include "tests/support/temp_dir.h"

namespace callsink {
namespace {

using test::RecordingTray;
using test::TempDir;
using test::TrayCall;

const std::string kConfigs = ConfigLayout::kConfigsKey;
const std::string kNoMore = "No more configs!";

ConfigRow Row(const std::string& server, const std::string& status = "N-N") {
  return {server, "4660", "localhost", "root", "secret", status};
}

// What a user types into the configuration dialog: a server, the defaults otherwise.
ConfigFields Typed(const std::string& server) {
  ConfigFields fields;
  fields.server = server;
  return fields;
}

// A model over a real registry file below a temporary CALLSINK_ROOT, with
// recording stand-ins for the window and the system.
class ManagerModelTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("CALLSINK_ROOT", root_.path().c_str(), 1); }
  void TearDown() override { unsetenv("CALLSINK_ROOT"); }

  Registry& Store() {
    if (!store_.IsOpen()) {
      EXPECT_TRUE(store_.Open(Registry::OpenMode::kCreate));
    }
    return store_;
  }
  // Writes "ConfigCount" = `count` and the given subkeys (number, row).
  void WriteLayout(const std::string& count, const std::vector<std::pair<int, ConfigRow>>& rows) {
    ASSERT_TRUE(Store().CreateKey(kConfigs));
    ASSERT_TRUE(Store().SetValue(kConfigs, "ConfigCount", count));
    for (const auto& [number, row] : rows) {
      ASSERT_TRUE(Store().CreateKey(ConfigLayout::ConfigKey(number)));
      for (size_t column = 0; column < row.size(); ++column) {
        ASSERT_TRUE(Store().SetValue(ConfigLayout::ConfigKey(number), kConfigValueNames[column],
                                     row[column]));
      }
    }
  }
  void WriteRows(const std::vector<ConfigRow>& rows) {
    std::vector<std::pair<int, ConfigRow>> numbered;
    for (const ConfigRow& row : rows) numbered.emplace_back(numbered.size() + 1, row);
    WriteLayout(std::to_string(rows.size()), numbered);
  }
  std::string Value(int number, const char* name) {
    std::string data;
    Store().QueryValue(number == 0 ? kConfigs : ConfigLayout::ConfigKey(number), name, &data);
    return data;
  }
  std::vector<std::string> Subkeys() {
    std::vector<std::string> names;
    Store().SubKeys(kConfigs, &names);
    return names;
  }

  CManagerModel& Model() {
    if (!model_) {
      model_ = std::make_unique<CManagerModel>(
          root_ / "var/lib/callsink/registry.db", "/opt/callsink/bin/",
          ManagerViews{list_, tray_, messages_, dialog_, window_},
          ManagerSystem{service_, launcher_, rebooter_,
                        [this](std::chrono::milliseconds pause) { pauses_.push_back(pause); }});
    }
    return *model_;
  }
  void Start(const std::string& command_line = "") { Model().OnInitDialog(command_line); }
  std::vector<std::string> RowTexts() const {
    std::vector<std::string> texts;
    for (const auto& row : list_.rows()) texts.push_back(row.text);
    return texts;
  }
  std::vector<int> RowIcons() const {
    std::vector<int> icons;
    for (const auto& row : list_.rows()) icons.push_back(row.icon_id);
    return icons;
  }

  TempDir root_;
  Registry store_{root_ / "var/lib/callsink/registry.db"};
  MemoryStatusList list_;
  RecordingTray tray_;
  test::ScriptedMessageBox messages_;
  test::ScriptedConfigDialog dialog_;
  test::RecordingWindow window_;
  test::FakeServiceProbe service_;
  test::RecordingLauncher launcher_;
  test::RecordingRebooter rebooter_;
  std::vector<std::chrono::milliseconds> pauses_;
  std::unique_ptr<CManagerModel> model_;
};

// ---- Reading the layout ----------------------------------------------------

TEST_F(ManagerModelTest, NoRegistryAtAllGivesAnEmptyListAndNoTrayIconUntilTheFirstAdd) {
  Start();
  EXPECT_EQ(list_.GetCount(), 0);
  EXPECT_EQ(window_.edit_remove_enabled, false);
  EXPECT_EQ(window_.status, "");
  EXPECT_TRUE(tray_.calls.empty());
  EXPECT_EQ(list_.GetSel(), 0);
  EXPECT_FALSE(std::filesystem::exists(root_ / "var/lib/callsink/registry.db"))
      << "reading never creates the store";

  dialog_.typed = Typed("10.0.0.5");
  ASSERT_TRUE(Model().OnAdd());
  EXPECT_EQ(Value(0, "ConfigCount"), "1");
  EXPECT_EQ(window_.edit_remove_enabled, true);
  ASSERT_EQ(tray_.calls.size(), 1u);
  EXPECT_EQ(tray_.calls[0], (TrayCall{TrayAction::kAdd, "ACD service status: Service stopped",
                                      ConnectionState::kIconDown}));
}

TEST_F(ManagerModelTest, ZeroOrNegativeOrNonNumericCountsGiveAnEmptyListWithTrayIcon133) {
  for (const std::string count : {"0", "-4", "many", ""}) {
    SCOPED_TRACE("ConfigCount " + count);
    WriteLayout(count, {{1, Row("10.0.0.5")}});
    list_.SetSel(0);
    Model().ReloadConfigurations();
    EXPECT_EQ(list_.GetCount(), 0);
    EXPECT_EQ(tray_.calls.back().tooltip, "ACD service status: ");
    EXPECT_EQ(tray_.calls.back().icon_id, ConnectionState::kIconDown);
    EXPECT_EQ(Value(0, "ConfigCount"), count) << "an empty count is not rewritten";
    EXPECT_EQ(Subkeys().size(), 1u);
  }
}

TEST_F(ManagerModelTest, MissingSubkeyCutsTheListAndRewritesTheLayoutAtOnce) {
  WriteLayout("3", {{1, Row("10.0.0.5", "Y-Y")}, {3, Row("10.0.0.7")}});
  Start();
  EXPECT_EQ(RowTexts(), (std::vector<std::string>{CManagerModel::RowText(Row("10.0.0.5"))}));
  EXPECT_EQ(Model().config_count(), 1);
  EXPECT_EQ(Value(0, "ConfigCount"), "1");
  EXPECT_EQ(Subkeys(), (std::vector<std::string>{"Config1"}));
  EXPECT_EQ(Value(1, "Status"), "Y-Y") << "the kept configuration keeps what was read";
  EXPECT_EQ(Value(1, "MYSQL_Password"), "secret");
}

TEST_F(ManagerModelTest, EmptyServerAddressDropsThatConfigurationAndEveryLaterOne) {
  WriteRows({Row("10.0.0.5"), Row(""), Row("10.0.0.7")});
  Start();
  EXPECT_EQ(list_.GetCount(), 1);
  EXPECT_EQ(Value(0, "ConfigCount"), "1");
  EXPECT_EQ(Subkeys(), (std::vector<std::string>{"Config1"}));
}

TEST_F(ManagerModelTest, UncountedSubkeysAreIgnoredAndHugeCountsStopAt99) {
  WriteLayout(" +2 rows", {{1, Row("a")}, {2, Row("b")}, {3, Row("c")}});
  Start();
  EXPECT_EQ(list_.GetCount(), 2);
  EXPECT_EQ(Subkeys().size(), 3u) << "no cut, so no rewrite";

  std::vector<ConfigRow> many;
  for (int i = 1; i <= 120; ++i) many.push_back(Row("10.1.0." + std::to_string(i)));
  WriteRows(many);
  Store().SetValue(kConfigs, "ConfigCount", "2147483647");
  Model().ReloadConfigurations();
  EXPECT_EQ(list_.GetCount(), 99);
  EXPECT_EQ(Model().config_count(), 99);
}

TEST_F(ManagerModelTest, ValuesLongerThan99CharactersReadAsEmpty) {
  ConfigRow row = Row("10.0.0.5");
  row[kMysqlPassword] = std::string(99, 'p');
  ConfigRow too_long = Row("10.0.0.6");
  too_long[kMysqlPassword] = std::string(100, 'p');
  too_long[kMysqlUser] = std::string(500, 'u');
  ConfigRow long_server = Row(std::string(100, '1'));
  WriteRows({row, too_long, long_server});
  Start();
  ASSERT_EQ(Model().config_count(), 2) << "a server address too long reads empty: cut there";
  EXPECT_EQ(Model().configs()[0][kMysqlPassword], std::string(99, 'p'));
  EXPECT_EQ(Model().configs()[1][kMysqlPassword], "");
  EXPECT_EQ(Model().configs()[1][kMysqlUser], "");
  EXPECT_EQ(Value(0, "ConfigCount"), "2");
}

TEST_F(ManagerModelTest, UnusableStoreReadsAsEmptyAndIsNeverOverwritten) {
  TempDir::MakeFolder(root_ / "var/lib/callsink");
  const std::string text = "not a registry";
  TempDir::WriteFile(root_ / "var/lib/callsink/registry.db", text);
  Start();
  EXPECT_EQ(list_.GetCount(), 0);
  dialog_.typed = Typed("10.0.0.5");
  EXPECT_FALSE(Model().OnAdd());
  EXPECT_NE(Model().registry_error().find("not a usable registry"), std::string::npos);
  EXPECT_EQ(TempDir::ReadFile(root_ / "var/lib/callsink/registry.db"), text);
}

// ---- Connection state ------------------------------------------------------

TEST(ConnectionStateTest, ExactStatusTextsSelectTextAndIcon) {
  struct Case {
    const char* status;
    const char* text;
    int icon;
  } cases[] = {
      {"Y-N", "Halvern connected, Database disconnected", 131},
      {"N-Y", "Halvern disconnected, Database connected", 132},
      {"Y-Y", "Halvern connected, Database connected", 134},
      {"N-N", "Halvern disconnected, Database disconnected", 133},
      {"y-y", "Halvern disconnected, Database disconnected", 133},
      {"", "Halvern disconnected, Database disconnected", 133},
      {"Y-Y ", "Halvern disconnected, Database disconnected", 133},
  };
  for (const Case& c : cases) {
    const ConnectionState state = ConnectionState::FromStatus(c.status);
    EXPECT_EQ(state.text, c.text) << c.status;
    EXPECT_EQ(state.icon_id, c.icon) << c.status;
  }
}

TEST_F(ManagerModelTest, StoppedServiceShowsServiceStoppedAndIcon133Everywhere) {
  WriteRows({Row("10.0.0.5", "Y-Y"), Row("10.0.0.6", "Y-N")});
  service_.running = false;
  Start();
  EXPECT_EQ(RowIcons(), (std::vector<int>{133, 133}));
  EXPECT_EQ(window_.status, "Service stopped");
  ASSERT_FALSE(tray_.calls.empty());
  EXPECT_EQ(tray_.calls.back(),
            (TrayCall{TrayAction::kAdd, "ACD service status: Service stopped", 133}));
}

TEST_F(ManagerModelTest, RunningServiceShowsTheSelectedRowsStateInStatusAndTray) {
  WriteRows({Row("10.0.0.5", "Y-Y"), Row("10.0.0.6", "Y-N"), Row("10.0.0.7", "y-y")});
  service_.running = true;
  Start();
  EXPECT_EQ(RowIcons(), (std::vector<int>{134, 131, 133}));
  EXPECT_EQ(window_.status, "Halvern connected, Database connected");
  // Start-up reloads twice: the first finds no selection, the second adds the icon.
  ASSERT_EQ(tray_.calls.size(), 1u);
  EXPECT_EQ(tray_.calls[0].action, TrayAction::kAdd);
  EXPECT_EQ(service_.asked, 6) << "asked once per row in each of the two reloads";

  list_.SetSel(1);
  Model().OnSelChange();
  EXPECT_EQ(window_.status, "Halvern connected, Database disconnected");
  EXPECT_EQ(tray_.calls.back(), (TrayCall{TrayAction::kModify,
                                          "ACD service status: Halvern connected, Database "
                                          "disconnected",
                                          131}));
  list_.SetSel(2);
  Model().OnSelChange();
  EXPECT_EQ(window_.status, "Halvern disconnected, Database disconnected");

  // A selection naming no row leaves the text as it was.
  list_.SetSel(7);
  Model().OnTimer();
  EXPECT_EQ(window_.status, "Halvern disconnected, Database disconnected");
  EXPECT_EQ(list_.GetSel(), 7);
}

TEST_F(ManagerModelTest, RowTextJoinsServerPortAndDatabaseServerWithFixedPort3306) {
  EXPECT_EQ(CManagerModel::RowText({"10.0.0.5", "4660", "localhost", "root", "pw", "N-N"}),
            "ACD (10.0.0.5 : 4660) -> MYSQL (localhost : 3306 )");
  WriteRows({Row("10.0.0.5")});
  Start();
  EXPECT_EQ(RowTexts(),
            (std::vector<std::string>{"ACD (10.0.0.5 : 4660) -> MYSQL (localhost : 3306 )"}));
}

// ---- Add, Edit, Remove, Hide -----------------------------------------------

TEST_F(ManagerModelTest, AddOpensTheDefaultsAndStoresTheNewConfigurationAsNN) {
  WriteRows({Row("10.0.0.5", "Y-Y")});
  Start();
  dialog_.typed = ConfigFields{"10.0.0.6", "4661", "db.example", "acd", "pw"};
  ASSERT_TRUE(Model().OnAdd());
  ASSERT_EQ(dialog_.opened_with.size(), 1u);
  const ConfigFields& shown = dialog_.opened_with[0];
  EXPECT_EQ(shown.server, "");
  EXPECT_EQ(shown.port, "4660");
  EXPECT_EQ(shown.mysql_server, "localhost");
  EXPECT_EQ(shown.user, "root");
  EXPECT_EQ(shown.password, "");
  EXPECT_EQ(Value(0, "ConfigCount"), "2");
  EXPECT_EQ(Value(2, "ACD_Server"), "10.0.0.6");
  EXPECT_EQ(Value(2, "ACD_Port"), "4661");
  EXPECT_EQ(Value(2, "MYSQL_Server"), "db.example");
  EXPECT_EQ(Value(2, "MYSQL_User"), "acd");
  EXPECT_EQ(Value(2, "MYSQL_Password"), "pw");
  EXPECT_EQ(Value(2, "Status"), "N-N");
  EXPECT_EQ(Value(1, "Status"), "Y-Y");
  EXPECT_EQ(list_.GetCount(), 2);

  dialog_.typed.reset();  // Cancel
  EXPECT_FALSE(Model().OnAdd());
  EXPECT_EQ(Value(0, "ConfigCount"), "2");
}

TEST_F(ManagerModelTest, AddWith99ConfigurationsSaysNoMoreConfigsWithoutOpeningTheDialog) {
  std::vector<ConfigRow> rows;
  for (int i = 1; i <= 99; ++i) rows.push_back(Row("10.0.1." + std::to_string(i)));
  WriteRows(rows);
  Start();
  dialog_.typed = Typed("10.0.0.100");
  EXPECT_FALSE(Model().OnAdd());
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{kNoMore}));
  EXPECT_TRUE(dialog_.opened_with.empty());
  EXPECT_EQ(Value(0, "ConfigCount"), "99");
}

TEST_F(ManagerModelTest, EditChangesTheFiveTextsAndKeepsTheStatusLastRead) {
  WriteRows({Row("10.0.0.5"), Row("10.0.0.6")});
  Start();
  Store().SetValue(ConfigLayout::ConfigKey(2), "Status", "Y-Y");  // the collector
  Model().OnTimer();
  list_.SetSel(1);
  dialog_.typed = ConfigFields{"10.0.0.9", "5000", "db", "u", "p2"};
  ASSERT_TRUE(Model().OnEdit());
  EXPECT_EQ(dialog_.opened_with.at(0).server, "10.0.0.6");
  EXPECT_EQ(dialog_.opened_with.at(0).password, "secret");
  EXPECT_EQ(Value(2, "ACD_Server"), "10.0.0.9");
  EXPECT_EQ(Value(2, "MYSQL_Password"), "p2");
  EXPECT_EQ(Value(2, "Status"), "Y-Y");
  EXPECT_EQ(Value(1, "ACD_Server"), "10.0.0.5");

  dialog_.typed.reset();
  EXPECT_FALSE(Model().OnEdit());
  EXPECT_EQ(Value(2, "ACD_Server"), "10.0.0.9");
}

TEST_F(ManagerModelTest, EditWithoutARowSelectedChangesNothing) {
  WriteRows({Row("10.0.0.5")});
  Start();
  dialog_.typed = Typed("10.0.0.9");
  for (int selection : {-1, 1, 99, 100, 5000}) {
    list_.SetSel(selection);
    EXPECT_FALSE(Model().OnEdit()) << selection;
  }
  EXPECT_TRUE(dialog_.opened_with.empty());
  EXPECT_EQ(Value(1, "ACD_Server"), "10.0.0.5");
}

TEST_F(ManagerModelTest, RemovingTheLastOfThreeSelectsTheNewLastRow) {
  WriteRows({Row("a"), Row("b"), Row("c")});
  Start();
  list_.SetSel(2);
  messages_.answers = {MessageAnswer::kYes};
  ASSERT_TRUE(Model().OnRemove());
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{"Are you sure?"}));
  EXPECT_EQ(messages_.kinds, (std::vector<MessageKind>{MessageKind::kConfirm}));
  EXPECT_EQ(list_.GetSel(), 1);
  EXPECT_EQ(Value(0, "ConfigCount"), "2");
  EXPECT_EQ(Subkeys(), (std::vector<std::string>{"Config1", "Config2"}));
}

TEST_F(ManagerModelTest, RemovingAMiddleRowMovesTheLaterRowsUpWithTheirStatus) {
  WriteRows({Row("a"), Row("b"), Row("c", "Y-Y")});
  Start();
  list_.SetSel(1);
  messages_.answers = {MessageAnswer::kYes};
  ASSERT_TRUE(Model().OnRemove());
  EXPECT_EQ(list_.GetSel(), 1);
  EXPECT_EQ(Value(2, "ACD_Server"), "c");
  EXPECT_EQ(Value(2, "Status"), "Y-Y");
  EXPECT_EQ(Value(0, "ConfigCount"), "2");
}

TEST_F(ManagerModelTest, RemoveAnsweredNoOrWithTheSelectionBeyondTheRowsRemovesNothing) {
  WriteRows({Row("a"), Row("b")});
  Start();
  list_.SetSel(0);
  messages_.answers = {MessageAnswer::kNo};
  EXPECT_FALSE(Model().OnRemove());
  list_.SetSel(2);
  EXPECT_FALSE(Model().OnRemove());
  EXPECT_EQ(messages_.shown.size(), 1u) << "no question without a row to remove";
  EXPECT_EQ(Value(0, "ConfigCount"), "2");
  EXPECT_EQ(Subkeys().size(), 2u);
}

TEST_F(ManagerModelTest, RemovingTheOnlyRowDisablesEditRemoveAndClearsStatusAndTray) {
  WriteRows({Row("a", "Y-Y")});
  service_.running = true;
  Start();
  EXPECT_EQ(window_.status, "Halvern connected, Database connected");
  messages_.answers = {MessageAnswer::kYes};
  ASSERT_TRUE(Model().OnRemove());
  EXPECT_EQ(list_.GetCount(), 0);
  EXPECT_EQ(window_.edit_remove_enabled, false);
  EXPECT_EQ(window_.status, "");
  EXPECT_EQ(tray_.calls.back(), (TrayCall{TrayAction::kModify, "ACD service status: ", 133}));
  EXPECT_EQ(Value(0, "ConfigCount"), "0");
}

TEST_F(ManagerModelTest, HideNeedsASelectedConnection) {
  Start();
  Model().OnHide();
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{"No connection selected"}));
  EXPECT_FALSE(window_.hidden);

  WriteRows({Row("a")});
  Model().OnTimer();
  Model().OnHide();
  EXPECT_TRUE(window_.hidden);
  EXPECT_EQ(messages_.shown.size(), 1u);
}

// ---- Apply and the restart offer -------------------------------------------

TEST_F(ManagerModelTest, ApplyStopsWaits4000MsStartsAndSaysServiceRestarted) {
  EXPECT_TRUE(Model().OnApply());
  EXPECT_EQ(launcher_.launches,
            (std::vector<test::Launch>{{"/opt/callsink/bin/", "callsink", "-stop"},
                                       {"/opt/callsink/bin/", "callsink", "-start"}}));
  EXPECT_EQ(pauses_, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(4000)}));
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{"Service restarted"}));
}

TEST_F(ManagerModelTest, ApplyFailuresNameTheReasonOfTheLaunchThatFailed) {
  launcher_.results = {2};
  EXPECT_FALSE(Model().OnApply());
  EXPECT_EQ(launcher_.launches.size(), 1u) << "-start is not tried after -stop failed";
  EXPECT_TRUE(pauses_.empty());
  EXPECT_EQ(messages_.shown.back(),
            "Apply failed ( Reason : the ACD service executable file is not found ), try to "
            "restart service manually");

  launcher_.results = {33, 26};
  EXPECT_FALSE(Model().OnApply());
  EXPECT_EQ(messages_.shown.back(),
            "Apply failed ( Reason : a sharing violation occurred ), try to restart service "
            "manually");
}

// The store is root's (folder and file): a window started by another user
// says that it needs root and how, and offers no change that would fail.
TEST_F(ManagerModelTest, WithoutTheRightsToTheStoreItSaysItNeedsRootAndChangesNothing) {
  WriteRows({Row("10.0.0.5")});
  dialog_.typed = Typed("10.0.0.6");
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  // The saved user stays root, so that the rights come back below.
  ASSERT_EQ(setresgid(nobody->pw_gid, nobody->pw_gid, 0), 0);
  ASSERT_EQ(setresuid(nobody->pw_uid, nobody->pw_uid, 0), 0);
  Start();
  const bool changed =
      Model().OnAdd() || Model().OnEdit() || Model().OnRemove() || Model().OnApply();
  ASSERT_EQ(setresuid(0, 0, 0), 0);
  ASSERT_EQ(setresgid(0, 0, 0), 0);

  EXPECT_FALSE(changed);
  EXPECT_EQ(window_.changes_enabled, false);
  ASSERT_FALSE(messages_.shown.empty());
  const std::string said = messages_.shown[0];
  EXPECT_EQ(said.rfind("callsinkmanager needs root rights for the configuration store (cannot open "
                       "registry file " +
                           root_ / "var/lib/callsink/registry.db" +
                           ": Permission denied). Run it as root: sudo callsinkmanager, or pkexec "
                           "callsinkmanager",
                       0),
            0u)
      << said;
  EXPECT_EQ(messages_.shown, std::vector<std::string>(5, said)) << "once at start, once a click";
  EXPECT_TRUE(dialog_.opened_with.empty());
  EXPECT_TRUE(launcher_.launches.empty());
  EXPECT_EQ(Value(0, "ConfigCount"), "1");
}

TEST_F(ManagerModelTest, RestartModeOffersTheRebootOnceUnlessItWasAccepted) {
  Start("Restart");
  Model().OnDestroy();
  EXPECT_TRUE(messages_.shown.empty()) << "the mode word is case-sensitive";

  model_.reset();
  Start("restart");
  EXPECT_TRUE(Model().restart_mode());
  messages_.answers = {MessageAnswer::kNo};
  Model().OnTrayExit();
  Model().OnDestroy();
  EXPECT_EQ(
      messages_.shown,
      (std::vector<std::string>{"We strongly recommend to restart the computer. Restart now?"}));
  EXPECT_EQ(messages_.kinds.back(), MessageKind::kRebootOffer);
  EXPECT_EQ(rebooter_.requests, 0);
  EXPECT_EQ(tray_.calls.back(), (TrayCall{TrayAction::kDelete, "", 134}));
}

TEST_F(ManagerModelTest, RebootRefusedSaysRestartFailedAndIsNotOfferedAgain) {
  Start("restart");
  messages_.answers = {MessageAnswer::kYes, MessageAnswer::kYes};
  Model().OnTrayExit();
  Model().OnDestroy();
  EXPECT_EQ(rebooter_.requests, 1);
  EXPECT_EQ(messages_.shown,
            (std::vector<std::string>{"We strongly recommend to restart the computer. Restart now?",
                                      "Restart failed, please restart manually"}));
  EXPECT_FALSE(Model().restart_mode());
}

TEST_F(ManagerModelTest, RebootAcceptedKeepsRestartMode) {
  Start("restart");
  rebooter_.accept = true;
  messages_.answers = {MessageAnswer::kYes};
  Model().OnTrayExit();
  EXPECT_EQ(rebooter_.requests, 1);
  EXPECT_TRUE(Model().restart_mode());
  EXPECT_EQ(messages_.shown.size(), 1u);
}

}  // namespace
}  // namespace callsink
