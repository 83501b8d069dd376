#pragma once

#include <string>

namespace callsink {

// The parts of the main window the model drives besides the list and the
// tray icon. Used on the model's thread.
class ManagerWindow {
 public:
  virtual ~ManagerWindow() = default;

  // Enables or disables "Edit" and "Remove" together.
  virtual void EnableEditRemove(bool enable) = 0;
  // Enables or disables "Add", "Edit", "Remove" and "Apply" together, all
  // of which need the rights to the configuration store.
  virtual void EnableChanges(bool enable) = 0;
  // Shows `text` in the selected connection's status field.
  virtual void ShowStatus(const std::string& text) = 0;
  // Hides the window; it keeps running behind its tray icon.
  virtual void HideWindow() = 0;
};

}  // namespace callsink
