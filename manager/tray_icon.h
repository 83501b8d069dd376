#pragma once

#include <string>

namespace callsink {

enum class TrayAction : int { kAdd = 0, kModify = 1, kDelete = 2 };

// The manager's icon in the notification area. Failures are not reported:
// an icon that could not be added stays absent. Used on the model's thread.
class TrayIcon {
 public:
  virtual ~TrayIcon() = default;

  // Adds, changes or removes the icon; `icon_id` is a
  // ConnectionState::kIcon... resource (ignored for kDelete).
  virtual void UpdateTrayIcon(TrayAction action, const std::string& tooltip, int icon_id) = 0;
};

}  // namespace callsink
