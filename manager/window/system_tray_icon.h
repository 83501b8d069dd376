#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <string>

#include "manager/tray_icon.h"

namespace callsink {

// The manager's icon in the notification area. Adding shows it whether or
// not a tray host runs at that moment: one that starts later picks it up.
// Changing an icon that was never added changes nothing visible, and
// deleting hides it. Clicks arrive through activated(). GUI thread only.
class SystemTrayIcon : public QObject, public TrayIcon {
  Q_OBJECT

 public:
  explicit SystemTrayIcon(QObject* parent = nullptr);

  void UpdateTrayIcon(TrayAction action, const std::string& tooltip, int icon_id) override;

  // What the icon holds now: whether it was added and not deleted, its
  // tooltip and its icon resource (0 before the first update).
  bool IsAdded() const { return icon_.isVisible(); }
  QString ToolTip() const { return icon_.toolTip(); }
  int IconId() const { return icon_id_; }

 signals:
  void activated(QSystemTrayIcon::ActivationReason reason);

 private:
  QSystemTrayIcon icon_;
  int icon_id_ = 0;
};

}  // namespace callsink
