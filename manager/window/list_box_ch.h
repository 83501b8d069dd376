#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <optional>
#include <string>
#include <vector>

#include "manager/status_list.h"
#include "manager/window/ext_item.h"

class QPainter;

namespace callsink {

// The configurations list: an owner-drawn list of 40-pixel rows, each with
// its text on the left and its 32x32 state icon at the right end. Rows are
// white with a sunken line along the bottom; the selected row is white text
// on blue inside a black one-pixel frame; there is no focus rectangle.
//
// Two selections live here, as in a list box the dialog subclasses: the
// control's own highlighted row (GetCurSel), which a mouse press moves, and
// the list's remembered selection m_nSel (GetSel), which the main dialog
// reads and re-applies at every reload. A released click stores the row
// nearest to the point in m_nSel, whether or not the point lies on a row
// (an empty list gives 0); the up and down arrow keys move both to the
// neighbouring row. Either then emits selChange().
//
// Owns its rows; a reset releases them, so rebuilding the list every few
// seconds keeps its memory flat. GUI thread only.
class CListBoxCH : public QAbstractScrollArea, public StatusList {
  Q_OBJECT

 public:
  static constexpr int kRowHeight = 40;
  // The square at the right end of a row that holds the icon.
  static constexpr int kIconBox = 40;
  static constexpr int kIconInset = 2;
  // Where a row's text box starts inside the row.
  static constexpr int kTextLeft = 4;
  static constexpr int kTextTop = 12;

  explicit CListBoxCH(QWidget* parent = nullptr);

  int GetSel() const override { return m_nSel; }
  void SetSel(int index) override;
  void RefreshSelection() override;
  void ResetContent() override;
  void AddItem(const std::string& text, int icon_id) override;
  int GetCount() const override { return static_cast<int>(m_items.size()); }

  // The row the control highlights; -1 when none.
  int GetCurSel() const { return cur_sel_; }
  // The first row shown at the top.
  int GetTopIndex() const;
  // Row `index` in viewport coordinates; it may lie outside the viewport.
  QRect GetItemRect(int index) const;
  // The record of row `index`; null when there is no such row.
  const CExtItem* GetItem(int index) const;

 signals:
  // A click or an arrow key has set the selection (GetSel).
  void selChange();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void DrawItem(QPainter& painter, const QRect& rect, const CExtItem& item, bool selected) const;
  void DrawLook(QPainter& painter, const QRect& rect, const QRect& text_box, const CExtItem& item,
                const QColor& text_colour) const;
  static void DrawSunkenBottom(QPainter& painter, const QRect& rect);
  int ItemNearest(const QPoint& point) const;
  void SetCurSel(int index);
  void InvalidateItem(int index);
  void EnsureVisible(int index);
  int VisibleRows() const;
  void UpdateScrollRange();

  std::vector<CExtItem> m_items;
  const QColor m_clrSelBack{0, 0, 255};
  const QColor m_clrBack{255, 255, 255};
  const QColor m_clrSelText{255, 255, 255};
  const bool m_bSeparator = true;
  int m_nSel = -1;
  int cur_sel_ = -1;
  // The row RefreshSelection last highlighted; unset until its first call.
  std::optional<int> refreshed_sel_;
};

}  // namespace callsink
