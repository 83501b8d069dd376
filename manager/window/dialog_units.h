#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace callsink {

// Converts dialog units into pixels for a font: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth
// of its height, so a layout drawn in dialog units grows with the font.
// Immutable after construction.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

  int base_x() const { return base_x_; }
  int base_y() const { return base_y_; }

 private:
  int base_x_;
  int base_y_;
};

}  // namespace callsink
