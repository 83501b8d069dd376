#pragma once

#include <string>

namespace callsink {

// What a configuration's "Status" text means for the manager: the text it
// shows and the icon resource of its row and of the tray. The comparison is
// exact ("y-y" is not "Y-Y"); any text but "Y-N", "N-Y" and "Y-Y" means
// both links are down.
struct ConnectionState {
  static constexpr int kIconAcdOnly = 131;       // "Y-N"
  static constexpr int kIconDatabaseOnly = 132;  // "N-Y"
  static constexpr int kIconDown = 133;          // anything else; also "service not running"
  static constexpr int kIconBoth = 134;          // "Y-Y"
  static constexpr const char* kServiceStopped = "Service stopped";

  std::string text;
  int icon_id = kIconDown;

  static ConnectionState FromStatus(const std::string& status);
};

}  // namespace callsink
