#include "manager/window/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>
#include <QTest>

namespace callsink {

class tst_DialogUnits : public QObject {
  Q_OBJECT

 private slots:
  void unitsAreQuarterWidthsAndEighthHeightsOfTheFont_data() {
    QTest::addColumn<int>("point_size");
    QTest::newRow("8 pt") << 8;
    QTest::newRow("9 pt") << 9;
    QTest::newRow("20 pt") << 20;
  }
  void unitsAreQuarterWidthsAndEighthHeightsOfTheFont() {
    QFETCH(int, point_size);
    QFont font = QApplication::font();
    font.setPointSize(point_size);
    const DialogUnits units(font);
    const QFontMetrics metrics(font);
    const double average = metrics.horizontalAdvance(QStringLiteral(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           52.0;
    QVERIFY(qAbs(units.base_x() - average) <= 0.5);
    QCOMPARE(units.base_y(), metrics.height());
    QCOMPARE(units.X(4), units.base_x());
    QCOMPARE(units.Y(8), units.base_y());
    QCOMPARE(units.X(0), 0);
    QCOMPARE(units.Size(324, 166), QSize(units.X(324), units.Y(166)));
  }

  void controlsThatTouchInUnitsTouchInPixels() {
    QFont font = QApplication::font();
    font.setPointSize(11);
    const DialogUnits units(font);
    // "Add", "Edit" and "Remove" of the main window sit side by side.
    const QRect add = units.Rect(8, 144, 50, 14);
    const QRect edit = units.Rect(58, 144, 50, 14);
    const QRect remove = units.Rect(108, 144, 50, 14);
    QCOMPARE(add.right() + 1, edit.left());
    QCOMPARE(edit.right() + 1, remove.left());
    QCOMPARE(add.top(), units.Y(144));
    QCOMPARE(add.bottom() + 1, units.Y(158));
  }
};

}  // namespace callsink

QTEST_MAIN(callsink::tst_DialogUnits)
#include "dialog_units_test.moc"
