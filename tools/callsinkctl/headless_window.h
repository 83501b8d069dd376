#pragma once

#include <string>

#include "manager/manager_window.h"
#include "manager/tray_icon.h"

namespace callsink {

// The window and tray icon of a program that has neither: every request is
// accepted and nothing is shown.
class HeadlessWindow : public ManagerWindow, public TrayIcon {
 public:
  void EnableEditRemove(bool) override {}
  void EnableChanges(bool) override {}
  void ShowStatus(const std::string&) override {}
  void HideWindow() override {}
  void UpdateTrayIcon(TrayAction, const std::string&, int) override {}
};

}  // namespace callsink
