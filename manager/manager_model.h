#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>

#include "manager/config_dialog.h"
#include "manager/config_store.h"
#include "manager/data_drop_dialog.h"
#include "manager/data_drop_flow.h"
#include "manager/manager_window.h"
#include "manager/message_box.h"
#include "manager/process_launcher.h"
#include "manager/rebooter.h"
#include "manager/service_probe.h"
#include "manager/status_list.h"
#include "manager/tray_icon.h"
#include "platform/registry.h"

namespace callsink {

// What the window provides to the model. Every object outlives the model.
struct ManagerViews {
  StatusList& list;
  TrayIcon& tray;
  MessageBox& messages;
  ConfigDialog& config_dialog;
  ManagerWindow& window;
};

// How the model reaches the system. Every object outlives the model.
struct ManagerSystem {
  ServiceProbe& service;
  ProcessLauncher& launcher;
  Rebooter& rebooter;
  // Waits the given time; the pause between "-stop" and "-start".
  std::function<void(std::chrono::milliseconds)> sleep;
};

// The manager's main dialog without its widgets: the configuration table
// read from and written to the registry, the connection state of the
// selected configuration, and the handlers of the window's buttons, timer
// and tray menu. The Qt window and callsinkctl both drive it.
//
// Single-threaded: every call on the thread that owns the views.
class CManagerModel {
 public:
  static constexpr int kTableRows = 100;
  static constexpr int kTimerPeriodMs = 5000;
  static constexpr std::chrono::milliseconds kRestartPause{4000};
  static constexpr const char* kTooltipPrefix = "ACD service status: ";
  static constexpr const char* kCollectorFile = "callsink";
  // How long Apply waits for "-start" to end, to hear what it says.
  static constexpr std::chrono::milliseconds kStartWait{15000};
  static constexpr const char* kChangedMeanwhile =
      "The configuration was changed or removed meanwhile; nothing was changed";
  static constexpr const char* kNotRunning = "the ACD service is not running after the restart";

  // What Apply takes for a restart: both launches without a complaint, or
  // that and the service running afterwards.
  enum class RestartCheck { kLaunches, kServiceRunning };

  using ConfigTable = std::array<ConfigRow, kTableRows>;

  // `registry_file` is the configuration store (opened when first needed,
  // created only when written); `app_folder` is the folder (with a trailing
  // '/') that holds the collector, normally the manager's own.
  CManagerModel(std::string registry_file, std::string app_folder, ManagerViews views,
                ManagerSystem system);
  CManagerModel(const CManagerModel&) = delete;
  CManagerModel& operator=(const CManagerModel&) = delete;

  // The window's start-up, after the list exists: takes the command line
  // ("restart" asks for a computer restart when the manager ends), reads the
  // configurations, selects row 0 and shows its state, which adds the tray
  // icon. The window then starts its kTimerPeriodMs timer calling OnTimer.
  // Without the rights to the configuration store it says that it needs
  // root and how, and disables the changes (ManagerWindow::EnableChanges).
  void OnInitDialog(const std::string& command_line);

  // Re-reads the registry, rebuilds the list, the status text and the tray
  // icon. A count cut short by a missing subkey or an empty ACD_Server is
  // written back at once without that configuration and the later ones.
  void ReloadConfigurations();
  // Replaces the registry's configurations by rows 0 .. count-1, atomically.
  // False when the registry could not be written (registry_error() says
  // why); the window shows nothing for it.
  bool WriteConfigurations();

  // Add, Edit and Remove re-read the store after their modal step (while
  // it waited, the timer reloaded and other programs may have rewritten the
  // layout) and change the configurations as they are then: Add appends
  // (or says "No more configs!"), Edit and Remove touch the row they showed
  // only when it is still there unchanged, and otherwise say
  // kChangedMeanwhile. Without the rights to the store each says that it
  // needs root instead, as Apply does.

  // "Add": true when a configuration was added and written.
  bool OnAdd();
  // "Edit" of the selected row: true when it was changed and written.
  bool OnEdit();
  // "Remove" of the selected row after "Are you sure?": true when removed
  // and written.
  bool OnRemove();
  // "Hide": hides the window, or says "No connection selected".
  void OnHide();
  void OnSelChange();
  void OnTimer();
  // "Apply": restarts the collector service; true on "Service restarted".
  bool OnApply(RestartCheck check = RestartCheck::kLaunches);
  // "Reset DB" of the configuration dialog, with the MySQL server, user and
  // password of `typed` (saved or not): the data deletion, its choices
  // offered through `dialog`, its results shown through the message box.
  // callsinkctl's data commands come here too.
  DataDropFlow::Outcome OnResetDb(const ConfigFields& typed, DataDropDialog& dialog);
  // "Exit" from the tray menu, before the window quits.
  void OnTrayExit() { OfferReboot(); }
  // The window goes away: removes the tray icon, then offers the restart.
  void OnDestroy();

  bool IsServiceRunning();
  // Launches the collector with "-stop", waits kRestartPause, launches it
  // with "-start", waits up to kStartWait for it to end, and shows "Service
  // restarted", or "Apply failed ( Reason : %s ), try to restart service
  // manually" with the reason a launch failed, what the two said on stderr,
  // or (with kServiceRunning) kNotRunning. True on "Service restarted".
  bool RestartService(RestartCheck check = RestartCheck::kLaunches);
  // In restart mode, asks whether to restart the computer now and asks the
  // system to; leaves restart mode unless the request was accepted.
  void OfferReboot();

  // "ACD (server : port) -> MYSQL (database server : 3306 )".
  static std::string RowText(const ConfigRow& row);
  // The five texts of `row` the configuration dialog shows.
  static ConfigFields FieldsOf(const ConfigRow& row);

  const ConfigTable& configs() const { return m_configs; }
  int config_count() const { return m_nConfigCount; }
  const std::string& status_text() const { return m_strStatus; }
  bool restart_mode() const { return m_bRestartMode; }
  const std::string& app_folder() const { return m_strAppFolder; }
  const std::string& registry_error() const { return registry_.error(); }

 private:
  bool OpenRegistry(Registry::OpenMode mode);
  static void CopyFields(const ConfigFields& fields, ConfigRow* row);
  // Without the rights to the store, says that it needs root; true then.
  bool SaysStoreDenied();
  // Reloads and tells whether row `index` still holds `shown`; otherwise
  // says kChangedMeanwhile.
  bool StillShows(int index, const ConfigFields& shown);

  Registry registry_;
  ManagerViews views_;
  ManagerSystem system_;

  std::string m_strAppFolder;
  ConfigTable m_configs;
  int m_nConfigCount = 0;
  bool m_bRestartMode = false;
  bool m_bTrayIconPending = true;
  std::string m_strStatus;
  // The last reload found the store but may not use it.
  bool store_denied_ = false;
};

}  // namespace callsink
