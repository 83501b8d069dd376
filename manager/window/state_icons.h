#pragma once

#include <QIcon>
#include <QPixmap>

namespace callsink {

// The manager's 32x32 icons by resource number: 128 the program, 131 to
// 134 the connection states (ConnectionState::kIcon...). Loaded from the
// linked resources once and kept in the pixmap cache, so every row and the
// tray share one copy. Needs a QGuiApplication; GUI thread only.
class StateIcons {
 public:
  static constexpr int kProgramIcon = 128;
  static constexpr int kSize = 32;

  // The icon's picture; a null pixmap for a number without an icon.
  static QPixmap Pixmap(int icon_id);
  static QIcon Icon(int icon_id) { return QIcon(Pixmap(icon_id)); }
};

}  // namespace callsink
