#pragma once

#include <QDialog>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "manager/manager_model.h"
#include "manager/manager_window.h"
#include "manager/window/dialog_message_box.h"
#include "manager/window/system_tray_icon.h"

class QLineEdit;
class QPushButton;

namespace callsink {

class CConfigDlg;
class CListBoxCH;

// The manager's main window, "callsinkmanager": the configurations list, the
// selected connection's status, the buttons "Add", "Edit", "Remove",
// "Apply" and "Hide" (none of them the default button), the icon in the
// notification area and the 5-second refresh. CManagerModel does the work;
// the window draws what it says and hands it every click, tick and tray
// command.
//
// Controls are named after their identifiers: list_1000, edit_1012 and
// button_1002 ("Add"), button_1003 ("Edit"), button_1004 ("Remove"),
// button_1005 ("Apply"), button_1007 ("Hide"). The About box opens from the
// window's context menu and with the Help key (F1).
//
// The window ends (done) by its close box, Escape, Enter while no button
// has the focus (Enter clicks a focused button), or "Exit" from the tray
// menu; it then removes the tray icon and, when started with "restart",
// offers to restart the computer. Hidden behind the tray icon it keeps
// refreshing. GUI thread only.
class CcallsinkmanagerDlg : public QDialog, public ManagerWindow {
  Q_OBJECT

 public:
  static constexpr const char* kNoTray = "No system tray available, the window stays open";

  // What the window asks of the desktop; tests put in their own.
  struct Desktop {
    // Answers every message of the window and its dialogs.
    MessageFunction show_message = DialogMessageBox::ShowModal;
    // Whether a tray host shows the icon, so that hiding the window leaves
    // a way back to it.
    std::function<bool()> tray_available = &QSystemTrayIcon::isSystemTrayAvailable;
  };

  // Builds the window over the configuration store `registry_file` and runs
  // its start-up with `command_line` (the program's arguments joined by
  // blanks; exactly "restart" asks for the restart offer at the end): the
  // list, the status and the tray icon show the store's state, and the
  // refresh timer runs. `app_folder` holds the collector. The objects of
  // `system` must outlive the window.
  CcallsinkmanagerDlg(std::string registry_file, std::string app_folder, ManagerSystem system,
                      Desktop desktop, const std::string& command_line, QWidget* parent = nullptr);
  ~CcallsinkmanagerDlg() override;

  const CManagerModel& model() const { return *model_; }
  const SystemTrayIcon& tray() const { return tray_; }
  const QTimer& timer() const { return timer_; }
  // The tray icon's menu, with its one item "E&xit".
  QMenu& tray_menu() { return tray_menu_; }

 public slots:
  void OnAdd();
  void OnEdit();
  void OnRemove();
  void OnApply();
  void OnHide();
  // "Reset DB" of the configuration dialog: the data deletion with what is
  // typed there, through the model.
  void OnResetDb();
  void OnSelChange();
  void OnTimer();
  void OnAbout();
  void OnTrayNotify(QSystemTrayIcon::ActivationReason reason);
  // Pops the tray menu up at the mouse pointer; "Exit" ends the window.
  void ShowTrayMenu();

 protected:
  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void EnableEditRemove(bool enable) override;
  void EnableChanges(bool enable) override;
  void ShowStatus(const std::string& text) override;
  void HideWindow() override;

  void CreateControls();

  DialogMessageBox messages_;
  const std::function<bool()> tray_available_;
  SystemTrayIcon tray_;
  QMenu tray_menu_;
  QAction* const exit_action_;
  QTimer timer_;
  CListBoxCH* m_list = nullptr;
  QLineEdit* m_editStatus = nullptr;
  QPushButton* m_btnAdd = nullptr;
  QPushButton* m_btnEdit = nullptr;
  QPushButton* m_btnRemove = nullptr;
  QPushButton* m_btnApply = nullptr;
  QPushButton* m_btnHide = nullptr;
  CConfigDlg* m_configDlg = nullptr;
  std::unique_ptr<CManagerModel> model_;
  bool ended_ = false;
};

}  // namespace callsink
