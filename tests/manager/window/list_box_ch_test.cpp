#include "manager/window/list_box_ch.h"

#include <unistd.h>

#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <fstream>
#include <memory>

#include "manager/connection_state.h"
#include "manager/window/state_icons.h"

namespace callsink {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 200;
const QColor kBlue(0, 0, 255);
const QColor kSeparatorLight(227, 227, 227);

// Bytes of memory the process holds in RAM.
long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Records the region of every paint of a widget.
class PaintRecorder : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
    return false;
  }
  QRegion painted;
};

}  // namespace

class tst_CListBoxCH : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CListBoxCH> list_;

  void AddRows(int count) {
    for (int row = 0; row < count; ++row) {
      list_->AddItem(
          "ACD (10.0.0." + std::to_string(row + 5) + " : 4660) -> MYSQL (localhost : 3306 )",
          ConnectionState::kIconBoth);
    }
  }
  QImage Grab() {
    return list_->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  int RowWidth() const { return list_->viewport()->width(); }
  // The icon as a row of colour `background` shows it.
  static QImage IconOver(int icon_id, const QColor& background) {
    QImage image(StateIcons::kSize, StateIcons::kSize, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.drawPixmap(0, 0, StateIcons::Pixmap(icon_id));
    return image;
  }
  static QImage IconArea(const QImage& grab, int row, int width) {
    return grab.copy(width - CListBoxCH::kIconBox + CListBoxCH::kIconInset,
                     row * CListBoxCH::kRowHeight + CListBoxCH::kIconInset, StateIcons::kSize,
                     StateIcons::kSize);
  }
  // The bounding box of the pixels within the text part of `row` that
  // `matches` accepts, leaving out the row's outline and its bottom lines.
  template <typename Match>
  static QRect InkIn(const QImage& grab, int row, int width, Match matches) {
    QRect box;
    const int top = row * CListBoxCH::kRowHeight;
    for (int y = top + 1; y < top + CListBoxCH::kRowHeight - 3; ++y) {
      for (int x = 1; x < width - CListBoxCH::kIconBox; ++x) {
        if (matches(grab.pixelColor(x, y))) box |= QRect(x, y, 1, 1);
      }
    }
    return box;
  }
  static bool IsWhitish(const QColor& colour) {
    return colour.red() > 160 && colour.green() > 160 && colour.blue() > 160;
  }
  static bool IsDark(const QColor& colour) {
    return colour.red() < 96 && colour.green() < 96 && colour.blue() < 96;
  }

 private slots:
  void init() {
    list_ = std::make_unique<CListBoxCH>();
    list_->resize(kWidth, kHeight);
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
  }
  void cleanup() { list_.reset(); }

  void startsWithoutSelection() {
    QCOMPARE(list_->GetSel(), -1);
    QCOMPARE(list_->GetCurSel(), -1);
    QCOMPARE(list_->GetCount(), 0);
  }

  void setSelBeyondTheLastRowIsStoredButHighlightsNothing() {
    AddRows(3);
    list_->SetSel(5);
    QCOMPARE(list_->GetSel(), 5);
    QCOMPARE(list_->GetCurSel(), -1);
    const QImage grab = Grab();
    for (int row = 0; row < 3; ++row) {
      QCOMPARE(grab.pixelColor(2, row * CListBoxCH::kRowHeight + 5), QColor(Qt::white));
    }
  }

  void resetReleasesEveryRowAndKeepsTheSelectionIndex() {
    AddRows(3);
    list_->SetSel(1);
    list_->ResetContent();
    QCOMPARE(list_->GetCount(), 0);
    QVERIFY(list_->GetItem(0) == nullptr);
    QCOMPARE(list_->GetCurSel(), -1);
    QCOMPARE(list_->GetSel(), 1);
  }

  void rowsKeepTheirOrderTextAndIcon() {
    list_->AddItem("first", ConnectionState::kIconAcdOnly);
    list_->AddItem("second", ConnectionState::kIconDown);
    QCOMPARE(list_->GetCount(), 2);
    QCOMPARE(list_->GetItem(0)->szText, QStringLiteral("first"));
    QCOMPARE(list_->GetItem(1)->szText, QStringLiteral("second"));
    QCOMPARE(list_->GetItem(0)->hIcon.cacheKey(),
             StateIcons::Pixmap(ConnectionState::kIconAcdOnly).cacheKey());
    QCOMPARE(list_->GetItem(1)->hIcon.cacheKey(),
             StateIcons::Pixmap(ConnectionState::kIconDown).cacheKey());
  }

  void aLongTextIsCutAt255Characters() {
    list_->AddItem(std::string(300, 'x'), ConnectionState::kIconDown);
    QCOMPARE(list_->GetItem(0)->szText, QString(255, QLatin1Char('x')));
  }

  void clickSelectsTheNearestRow_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("selected");
    QTest::newRow("first row") << 3 << 10 << 0;
    QTest::newRow("third row") << 3 << 95 << 2;
    QTest::newRow("below the last row") << 3 << 150 << 2;
    QTest::newRow("empty list") << 0 << 20 << 0;
  }
  void clickSelectsTheNearestRow() {
    QFETCH(int, rows);
    QFETCH(int, y);
    QFETCH(int, selected);
    AddRows(rows);
    QSignalSpy changes(list_.get(), &CListBoxCH::selChange);
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(50, y));
    QCOMPARE(list_->GetSel(), selected);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(list_->GetCurSel(), rows == 0 ? -1 : selected);
  }

  void arrowKeysMoveTheSelection_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("changes");
    QTest::newRow("down from the first row") << 0 << int(Qt::Key_Down) << 1 << 1;
    QTest::newRow("down from the last row stays") << 2 << int(Qt::Key_Down) << 2 << 0;
    QTest::newRow("up from the middle row") << 1 << int(Qt::Key_Up) << 0 << 1;
    QTest::newRow("up from the first row stays") << 0 << int(Qt::Key_Up) << 0 << 0;
    QTest::newRow("down without a selection") << -1 << int(Qt::Key_Down) << 0 << 1;
  }
  void arrowKeysMoveTheSelection() {
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, to);
    QFETCH(int, changes);
    AddRows(3);
    list_->SetSel(from);
    QSignalSpy spy(list_.get(), &CListBoxCH::selChange);
    QTest::keyClick(list_.get(), static_cast<Qt::Key>(key));
    QCOMPARE(list_->GetSel(), to);
    QCOMPARE(list_->GetCurSel(), to);
    QCOMPARE(spy.count(), changes);
  }

  void theSelectionScrollsIntoView() {
    AddRows(8);
    list_->SetSel(7);
    QVERIFY(list_->GetTopIndex() > 0);
    QVERIFY(list_->GetItemRect(7).bottom() < list_->viewport()->height());
    list_->ResetContent();
    QCOMPARE(list_->GetTopIndex(), 0);
  }

  void theSelectedRowIsWhiteOnBlueInABlackFrame() {
    AddRows(3);
    list_->SetSel(1);
    const QImage grab = Grab();
    const int width = RowWidth();
    const int top = CListBoxCH::kRowHeight;
    const int bottom = top + CListBoxCH::kRowHeight - 1;
    // The frame: every edge of the row, one pixel wide.
    for (const QPoint& point : {QPoint(0, top), QPoint(width / 2, top), QPoint(width - 1, top),
                                QPoint(0, top + 20), QPoint(width - 1, top + 20), QPoint(0, bottom),
                                QPoint(width / 2, bottom), QPoint(width - 1, bottom)}) {
      QCOMPARE(grab.pixelColor(point), QColor(Qt::black));
    }
    // Blue right inside the frame and between text and icon.
    for (const QPoint& point : {QPoint(1, top + 1), QPoint(width - 2, top + 1),
                                QPoint(1, bottom - 3), QPoint(width - 41, top + 5)}) {
      QCOMPARE(grab.pixelColor(point), kBlue);
    }
    // The sunken line along the bottom of the frame's inside.
    QCOMPARE(grab.pixelColor(width / 2, bottom - 1), QColor(Qt::white));
    QCOMPARE(grab.pixelColor(width / 2, bottom - 2), kSeparatorLight);
  }

  void theSelectedTextIsWhiteFrom4PixelsInAnd12Down() {
    AddRows(3);
    list_->SetSel(1);
    const QImage grab = Grab();
    const QRect ink = InkIn(grab, 1, RowWidth(), IsWhitish);
    QVERIFY(!ink.isEmpty());
    const QFontMetrics metrics(list_->font());
    const int top = CListBoxCH::kRowHeight;
    QVERIFY2(ink.left() >= CListBoxCH::kTextLeft && ink.left() <= CListBoxCH::kTextLeft + 2,
             qPrintable(QString::number(ink.left())));
    QVERIFY2(ink.top() >= top + CListBoxCH::kTextTop &&
                 ink.top() <= top + CListBoxCH::kTextTop + metrics.ascent(),
             qPrintable(QString::number(ink.top())));
    QVERIFY(InkIn(grab, 1, RowWidth(), IsDark).isEmpty());
  }

  void theIconSits2PixelsInsideTheRightBox() {
    AddRows(3);
    list_->SetSel(1);
    const QImage grab = Grab();
    const int width = RowWidth();
    QCOMPARE(IconArea(grab, 1, width), IconOver(ConnectionState::kIconBoth, kBlue));
    QCOMPARE(IconArea(grab, 0, width), IconOver(ConnectionState::kIconBoth, Qt::white));
    // Nothing of the icon outside its place.
    QCOMPARE(grab.pixelColor(width - CListBoxCH::kIconBox + 1, CListBoxCH::kRowHeight + 17), kBlue);
  }

  void anUnselectedRowIsWhiteWithBlackTextAndASunkenBottomLine() {
    AddRows(3);
    list_->SetSel(1);
    const QImage grab = Grab();
    const int width = RowWidth();
    const int bottom = CListBoxCH::kRowHeight - 1;
    QCOMPARE(grab.pixelColor(0, 0), QColor(Qt::white));
    QCOMPARE(grab.pixelColor(width - 1, 5), QColor(Qt::white));
    for (const int x : {0, width / 2, width - 1}) {
      QCOMPARE(grab.pixelColor(x, bottom), QColor(Qt::white));
      QCOMPARE(grab.pixelColor(x, bottom - 1), kSeparatorLight);
      QCOMPARE(grab.pixelColor(x, bottom - 2), QColor(Qt::white));
    }
    const QRect ink = InkIn(grab, 0, width, IsDark);
    QVERIFY(!ink.isEmpty());
    QVERIFY(ink.left() >= CListBoxCH::kTextLeft);
    QVERIFY(ink.top() >= CListBoxCH::kTextTop);
  }

  void theIconsAreLinkedIntoTheProgram() {
    for (const int icon_id : {StateIcons::kProgramIcon, ConnectionState::kIconAcdOnly,
                              ConnectionState::kIconDatabaseOnly, ConnectionState::kIconDown,
                              ConnectionState::kIconBoth}) {
      QCOMPARE(StateIcons::Pixmap(icon_id).size(), QSize(StateIcons::kSize, StateIcons::kSize));
    }
    QVERIFY(StateIcons::Pixmap(130).isNull());
  }

  void eachStateHasItsOwnIcon() {
    const int states[] = {ConnectionState::kIconAcdOnly, ConnectionState::kIconDatabaseOnly,
                          ConnectionState::kIconDown, ConnectionState::kIconBoth};
    list_->resize(kWidth, 4 * CListBoxCH::kRowHeight + 10);
    for (const int state : states) list_->AddItem("row", state);
    const QImage grab = Grab();
    QList<QImage> seen;
    for (int row = 0; row < 4; ++row) {
      const QImage icon = IconArea(grab, row, RowWidth());
      QCOMPARE(icon, IconOver(states[row], Qt::white));
      QVERIFY2(!seen.contains(icon), "two states share an icon");
      seen.append(icon);
    }
  }

  void theFocusDrawsNoRectangle() {
    AddRows(3);
    list_->SetSel(1);
    list_->clearFocus();
    const QImage without_focus = Grab();
    list_->setFocus();
    QVERIFY(QTest::qWaitFor([this] { return list_->hasFocus(); }));
    QCOMPARE(Grab(), without_focus);
  }

  void refreshSelectionRepaintsOnlyTheTwoRows() {
    AddRows(4);
    list_->SetSel(0);
    QTest::qWait(20);
    PaintRecorder recorder;
    list_->viewport()->installEventFilter(&recorder);
    list_->SetSel(2);
    QVERIFY(QTest::qWaitFor([&] { return !recorder.painted.isEmpty(); }));
    QCOMPARE(recorder.painted, QRegion(list_->GetItemRect(0)) + list_->GetItemRect(2));
  }

  void memoryStaysFlatAcrossReloads() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer keeps freed memory in quarantine; its leak check covers this build");
#endif
    // What the main window does every 5 seconds, for about four hours.
    const auto reload = [this] {
      const int selection = list_->GetSel();
      list_->ResetContent();
      AddRows(3);
      list_->SetSel(selection < 0 ? 0 : selection);
    };
    for (int i = 0; i < 200; ++i) reload();
    QTest::qWait(10);
    const long before = ResidentBytes();
    for (int i = 0; i < 3000; ++i) reload();
    QTest::qWait(10);
    const long growth = ResidentBytes() - before;
    qInfo("resident memory growth over 3000 reloads: %ld bytes", growth);
    QVERIFY2(growth < 512 * 1024, qPrintable(QString::number(growth)));
    QCOMPARE(list_->GetCount(), 3);
  }
};

}  // namespace callsink

QTEST_MAIN(callsink::tst_CListBoxCH)
#include "list_box_ch_test.moc"
