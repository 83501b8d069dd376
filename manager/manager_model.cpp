#include "manager/manager_model.h"

#include <span>
#include <vector>

#include "config/config_layout.h"
#include "config/database_tls_setting.h"
#include "manager/connection_state.h"
#include "manager/launch_result.h"

namespace callsink {
namespace {

constexpr const char* kNoMoreConfigs = "No more configs!";
constexpr const char* kAreYouSure = "Are you sure?";
constexpr const char* kNoConnectionSelected = "No connection selected";
constexpr const char* kServiceRestarted = "Service restarted";
constexpr const char* kRebootOffer = "We strongly recommend to restart the computer. Restart now?";
constexpr const char* kRebootFailed = "Restart failed, please restart manually";
constexpr const char* kNeedsRoot =
    "callsinkmanager needs root rights for the configuration store (%s). Run it as root: "
    "sudo callsinkmanager, or pkexec callsinkmanager on the desktop (the polkit policy of "
    "callsink-manager allows it). Until then Add, Edit, Remove and Apply are disabled.";

}  // namespace

CManagerModel::CManagerModel(std::string registry_file, std::string app_folder, ManagerViews views,
                             ManagerSystem system)
    : registry_(std::move(registry_file)),
      views_(views),
      system_(std::move(system)),
      m_strAppFolder(std::move(app_folder)) {}

bool CManagerModel::OpenRegistry(Registry::OpenMode mode) { return registry_.Open(mode); }

std::string CManagerModel::RowText(const ConfigRow& row) {
  return "ACD (" + row[kAcdServer] + " : " + row[kAcdPort] + ") -> MYSQL (" + row[kMysqlServer] +
         " : 3306 )";
}

ConfigFields CManagerModel::FieldsOf(const ConfigRow& row) {
  return {row[kAcdServer], row[kAcdPort], row[kMysqlServer], row[kMysqlUser], row[kMysqlPassword]};
}

void CManagerModel::CopyFields(const ConfigFields& fields, ConfigRow* row) {
  (*row)[kAcdServer] = fields.server;
  (*row)[kAcdPort] = fields.port;
  (*row)[kMysqlServer] = fields.mysql_server;
  (*row)[kMysqlUser] = fields.user;
  (*row)[kMysqlPassword] = fields.password;
}

void CManagerModel::OnInitDialog(const std::string& command_line) {
  m_bTrayIconPending = true;
  m_bRestartMode = command_line == "restart";
  ReloadConfigurations();
  if (views_.list.GetCount() == 0) views_.window.EnableEditRemove(false);
  views_.list.SetSel(0);
  OnSelChange();
  if (SaysStoreDenied()) views_.window.EnableChanges(false);
}

bool CManagerModel::SaysStoreDenied() {
  if (!store_denied_) return false;
  std::string text = kNeedsRoot;
  text.replace(text.find("%s"), 2, registry_.error());
  views_.messages.Show(text, MessageKind::kNotice);
  return true;
}

bool CManagerModel::StillShows(int index, const ConfigFields& shown) {
  ReloadConfigurations();
  if (index < m_nConfigCount && FieldsOf(m_configs[static_cast<size_t>(index)]) == shown) {
    return true;
  }
  views_.messages.Show(kChangedMeanwhile, MessageKind::kNotice);
  return false;
}

void CManagerModel::ReloadConfigurations() {
  const int saved_selection = views_.list.GetSel();
  int tray_icon = ConnectionState::kIconDown;
  m_nConfigCount = 0;
  views_.list.ResetContent();

  std::vector<ConfigRow> rows;
  // A store that cannot be opened reads like a missing Configs key: an empty
  // list, and the tray is left as it is.
  const bool opened = OpenRegistry(Registry::OpenMode::kExisting);
  store_denied_ = !opened && registry_.access_denied();
  if (!opened || !ConfigStore::Read(registry_, &rows)) {
    views_.window.ShowStatus(m_strStatus);
    return;
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const int index = static_cast<int>(i);
    m_configs[i] = std::move(rows[i]);
    if (m_configs[i][kAcdServer].empty()) {
      WriteConfigurations();  // drops this configuration and every later one
      break;
    }
    m_nConfigCount = index + 1;
    int row_icon = ConnectionState::kIconDown;
    if (IsServiceRunning()) {
      const ConnectionState state = ConnectionState::FromStatus(m_configs[i][kStatus]);
      row_icon = state.icon_id;
      if (index == saved_selection) {
        m_strStatus = state.text;
        tray_icon = row_icon;
      }
    } else {
      m_strStatus = ConnectionState::kServiceStopped;
    }
    views_.list.AddItem(RowText(m_configs[i]), row_icon);
  }
  if (saved_selection != -1) {
    views_.list.SetSel(saved_selection);
    const std::string tooltip = kTooltipPrefix + m_strStatus;
    views_.tray.UpdateTrayIcon(m_bTrayIconPending ? TrayAction::kAdd : TrayAction::kModify, tooltip,
                               tray_icon);
    m_bTrayIconPending = false;
  }
  views_.window.ShowStatus(m_strStatus);
}

bool CManagerModel::WriteConfigurations() {
  if (!OpenRegistry(Registry::OpenMode::kCreate)) return false;
  return ConfigStore::Write(
      registry_, std::span<const ConfigRow>(m_configs.data(), static_cast<size_t>(m_nConfigCount)));
}

bool CManagerModel::OnAdd() {
  if (SaysStoreDenied()) return false;
  if (m_nConfigCount >= ConfigLayout::kMaxConfigs) {
    views_.messages.Show(kNoMoreConfigs, MessageKind::kNotice);
    return false;
  }
  ConfigFields fields;
  if (!views_.config_dialog.DoModal(&fields)) return false;
  ReloadConfigurations();
  if (m_nConfigCount >= ConfigLayout::kMaxConfigs) {
    views_.messages.Show(kNoMoreConfigs, MessageKind::kNotice);
    return false;
  }
  ConfigRow& row = m_configs[static_cast<size_t>(m_nConfigCount)];
  CopyFields(fields, &row);
  row[kStatus] = "N-N";
  ++m_nConfigCount;
  const bool written = WriteConfigurations();
  ReloadConfigurations();
  views_.window.EnableEditRemove(true);
  return written;
}

bool CManagerModel::OnEdit() {
  if (SaysStoreDenied()) return false;
  const int selection = views_.list.GetSel();
  // A selection left beyond the last row (after a reload dropped rows)
  // names no configuration; editing it would change a row nobody sees and
  // that is never written.
  if (selection < 0 || selection >= m_nConfigCount || views_.list.GetCount() == 0) return false;
  const ConfigFields shown = FieldsOf(m_configs[static_cast<size_t>(selection)]);
  ConfigFields fields = shown;
  if (!views_.config_dialog.DoModal(&fields) || !StillShows(selection, shown)) return false;
  CopyFields(fields, &m_configs[static_cast<size_t>(selection)]);  // Status stays as last read
  const bool written = WriteConfigurations();
  ReloadConfigurations();
  return written;
}

bool CManagerModel::OnRemove() {
  if (SaysStoreDenied()) return false;
  const int selection = views_.list.GetSel();
  const bool named = selection >= 0 && selection < m_nConfigCount;
  const ConfigFields shown =
      named ? FieldsOf(m_configs[static_cast<size_t>(selection)]) : ConfigFields{};
  bool removed = false;
  if (named && views_.messages.Show(kAreYouSure, MessageKind::kConfirm) == MessageAnswer::kYes &&
      StillShows(selection, shown)) {
    for (int i = selection; i + 1 < m_nConfigCount; ++i) {
      m_configs[static_cast<size_t>(i)] = std::move(m_configs[static_cast<size_t>(i + 1)]);
    }
    --m_nConfigCount;
    m_configs[static_cast<size_t>(m_nConfigCount)] = ConfigRow{};
    if (selection == m_nConfigCount && selection > 0) views_.list.SetSel(selection - 1);
    removed = WriteConfigurations();
    ReloadConfigurations();
  }
  if (views_.list.GetCount() == 0) {
    views_.window.EnableEditRemove(false);
    m_strStatus.clear();
    views_.tray.UpdateTrayIcon(TrayAction::kModify, kTooltipPrefix, ConnectionState::kIconDown);
  }
  views_.window.ShowStatus(m_strStatus);
  return removed;
}

void CManagerModel::OnHide() {
  if (views_.list.GetCount() == 0 || views_.list.GetSel() == -1) {
    views_.messages.Show(kNoConnectionSelected, MessageKind::kNotice);
    return;
  }
  views_.window.HideWindow();
}

DataDropFlow::Outcome CManagerModel::OnResetDb(const ConfigFields& typed, DataDropDialog& dialog) {
  return DataDropFlow(views_.messages, dialog)
      .Run(typed.mysql_server, typed.user, typed.password, DatabaseTlsSetting::Read(registry_));
}

void CManagerModel::OnSelChange() {
  views_.list.RefreshSelection();
  ReloadConfigurations();
}

void CManagerModel::OnTimer() { ReloadConfigurations(); }

void CManagerModel::OnDestroy() {
  views_.tray.UpdateTrayIcon(TrayAction::kDelete, "", ConnectionState::kIconBoth);
  OfferReboot();
}

bool CManagerModel::IsServiceRunning() { return system_.service.IsServiceRunning(); }

bool CManagerModel::OnApply(RestartCheck check) {
  if (SaysStoreDenied()) return false;
  return RestartService(check);
}

bool CManagerModel::RestartService(RestartCheck check) {
  int result = system_.launcher.Launch(m_strAppFolder, kCollectorFile, "-stop");
  if (LaunchResult::Succeeded(result)) {
    // The only synchronisation with the stopping service: "-stop" itself
    // waits for the stop, and "-start" of a service still running is harmless.
    system_.sleep(kRestartPause);
    result = system_.launcher.Launch(m_strAppFolder, kCollectorFile, "-start");
  }
  std::string reason;
  if (!LaunchResult::Succeeded(result)) {
    reason = LaunchResult::Reason(result);
  } else {
    // Both programs say on stderr why they failed, and nothing otherwise.
    reason = system_.launcher.ErrorOutput(kStartWait);
    if (reason.empty() && check == RestartCheck::kServiceRunning && !IsServiceRunning()) {
      reason = kNotRunning;
    }
  }
  if (reason.empty()) {
    views_.messages.Show(kServiceRestarted, MessageKind::kNotice);
    return true;
  }
  views_.messages.Show("Apply failed ( Reason : " + reason + " ), try to restart service manually",
                       MessageKind::kNotice);
  return false;
}

void CManagerModel::OfferReboot() {
  if (!m_bRestartMode) return;
  if (views_.messages.Show(kRebootOffer, MessageKind::kRebootOffer) == MessageAnswer::kYes) {
    if (system_.rebooter.RequestReboot()) return;
    views_.messages.Show(kRebootFailed, MessageKind::kNotice);
  }
  m_bRestartMode = false;
}

}  // namespace callsink
