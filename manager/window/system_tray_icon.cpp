#include "manager/window/system_tray_icon.h"

#include "manager/window/state_icons.h"

namespace callsink {

SystemTrayIcon::SystemTrayIcon(QObject* parent) : QObject(parent) {
  connect(&icon_, &QSystemTrayIcon::activated, this, &SystemTrayIcon::activated);
}

void SystemTrayIcon::UpdateTrayIcon(TrayAction action, const std::string& tooltip, int icon_id) {
  if (action == TrayAction::kDelete) {
    icon_.hide();
    return;
  }
  icon_id_ = icon_id;
  icon_.setIcon(StateIcons::Icon(icon_id));
  icon_.setToolTip(QString::fromStdString(tooltip));
  if (action == TrayAction::kAdd) icon_.show();
}

}  // namespace callsink
