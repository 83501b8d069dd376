#include "manager/window/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace callsink {
namespace {

// A dialog unit is a quarter of the font's average character width (taken
// over the 52 Latin letters and rounded) and an eighth of its height.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLength = 52;

// a * b / c rounded to the nearest integer.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  base_x_ = (metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) + kAlphabetLength / 2) /
            kAlphabetLength;
  base_y_ = metrics.height();
}

int DialogUnits::X(int units) const { return MulDiv(units, base_x_, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, base_y_, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  // Corners are converted, not sizes, so that adjacent controls stay adjacent.
  const int left = X(x);
  const int top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

}  // namespace callsink
