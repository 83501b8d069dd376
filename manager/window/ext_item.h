#pragma once

#include <QPixmap>
#include <QString>

namespace callsink {

// One row of CListBoxCH: its text and its state icon. Owned by the list.
struct CExtItem {
  // Longest row text; a longer one is cut.
  static constexpr int kMaxText = 255;

  QString szText;
  // Shares the icon's pixels with every other row of the same state.
  QPixmap hIcon;
};

}  // namespace callsink
