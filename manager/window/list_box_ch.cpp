#include "manager/window/list_box_ch.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "manager/window/state_icons.h"

namespace callsink {
namespace {

// The two lines of a sunken edge's bottom side: the outer one in the
// highlight colour, the inner one just above it in the light 3D colour.
const QColor kEdgeHighlight(255, 255, 255);
const QColor kEdgeLight(227, 227, 227);

}  // namespace

CListBoxCH::CListBoxCH(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The area below the last row shows the list's white background.
  viewport()->setAutoFillBackground(true);
  QPalette palette = viewport()->palette();
  palette.setColor(viewport()->backgroundRole(), m_clrBack);
  viewport()->setPalette(palette);
}

void CListBoxCH::SetSel(int index) {
  m_nSel = index;
  SetCurSel(index >= 0 && index < GetCount() ? index : -1);
  RefreshSelection();
}

void CListBoxCH::RefreshSelection() {
  if (!refreshed_sel_) refreshed_sel_ = m_nSel;
  if (*refreshed_sel_ == m_nSel) return;
  InvalidateItem(*refreshed_sel_);
  InvalidateItem(m_nSel);
  refreshed_sel_ = m_nSel;
}

void CListBoxCH::ResetContent() {
  m_items.clear();  // keeps its capacity: the next rows reuse the storage
  cur_sel_ = -1;
  verticalScrollBar()->setValue(0);
  UpdateScrollRange();
  viewport()->update();
}

void CListBoxCH::AddItem(const std::string& text, int icon_id) {
  CExtItem item{QString::fromStdString(text), StateIcons::Pixmap(icon_id)};
  if (item.szText.size() > CExtItem::kMaxText) {
    qsizetype length = CExtItem::kMaxText;
    if (item.szText.at(length - 1).isHighSurrogate()) --length;  // never half a character
    item.szText.truncate(length);
  }
  m_items.push_back(std::move(item));
  UpdateScrollRange();
  InvalidateItem(GetCount() - 1);
}

int CListBoxCH::GetTopIndex() const { return verticalScrollBar()->value(); }

QRect CListBoxCH::GetItemRect(int index) const {
  return QRect(0, (index - GetTopIndex()) * kRowHeight, viewport()->width(), kRowHeight);
}

const CExtItem* CListBoxCH::GetItem(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return &m_items[static_cast<size_t>(index)];
}

void CListBoxCH::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QRect dirty = event->rect();
  for (int index = GetTopIndex(); index < GetCount(); ++index) {
    const QRect rect = GetItemRect(index);
    if (rect.top() > dirty.bottom()) break;
    if (rect.intersects(dirty)) DrawItem(painter, rect, *GetItem(index), index == cur_sel_);
  }
}

void CListBoxCH::DrawItem(QPainter& painter, const QRect& rect, const CExtItem& item,
                          bool selected) const {
  const QRect icon_box(rect.right() + 1 - kIconBox, rect.top(), kIconBox, kIconBox);
  const QRect text_box(rect.left(), rect.top(), icon_box.left() - rect.left(), rect.height());

  painter.fillRect(rect, m_clrBack);
  DrawLook(painter, rect, text_box, item, Qt::black);
  if (!selected) return;

  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect.adjusted(0, 0, -1, -1));
  const QRect inside = rect.adjusted(1, 1, -1, -1);
  painter.fillRect(inside, m_clrSelBack);
  DrawLook(painter, inside, text_box, item, m_clrSelText);
}

void CListBoxCH::DrawLook(QPainter& painter, const QRect& rect, const QRect& text_box,
                          const CExtItem& item, const QColor& text_colour) const {
  if (m_bSeparator) DrawSunkenBottom(painter, rect);
  const int icon_left = text_box.right() + 1;
  painter.drawPixmap(icon_left + kIconInset, text_box.top() + kIconInset, item.hIcon);
  // The text box shrunk by 2 pixels on every side, then moved 2 right and
  // 10 down: the text starts kTextLeft in and kTextTop below the row's top.
  const QRect text_rect = text_box.adjusted(2, 2, -2, -2).translated(2, 10);
  painter.setPen(text_colour);
  painter.drawText(text_rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, item.szText);
}

void CListBoxCH::DrawSunkenBottom(QPainter& painter, const QRect& rect) {
  painter.setPen(kEdgeHighlight);
  painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
  painter.setPen(kEdgeLight);
  painter.drawLine(rect.left(), rect.bottom() - 1, rect.right(), rect.bottom() - 1);
}

int CListBoxCH::ItemNearest(const QPoint& point) const {
  if (GetCount() == 0) return 0;
  const int row = GetTopIndex() + std::max(point.y(), 0) / kRowHeight;
  return std::clamp(row, 0, GetCount() - 1);
}

void CListBoxCH::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  event->accept();
  if (GetCount() > 0) SetCurSel(ItemNearest(event->position().toPoint()));
}

void CListBoxCH::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    return;
  }
  event->accept();
  m_nSel = ItemNearest(event->position().toPoint());
  RefreshSelection();
  emit selChange();
}

void CListBoxCH::keyPressEvent(QKeyEvent* event) {
  const bool up = event->key() == Qt::Key_Up;
  if ((!up && event->key() != Qt::Key_Down) || event->modifiers() != Qt::NoModifier) {
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  event->accept();
  if (GetCount() == 0) return;
  // The row the key moves from: the highlighted one, or none (then the key
  // lands on the first row).
  const int from = cur_sel_;
  const int to = from < 0 ? 0 : std::clamp(up ? from - 1 : from + 1, 0, GetCount() - 1);
  if (to == from) return;
  SetSel(to);
  emit selChange();
}

void CListBoxCH::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

void CListBoxCH::scrollContentsBy(int, int) { viewport()->update(); }

void CListBoxCH::SetCurSel(int index) {
  if (index == cur_sel_) return;
  InvalidateItem(cur_sel_);
  cur_sel_ = index;
  InvalidateItem(cur_sel_);
  EnsureVisible(cur_sel_);
}

void CListBoxCH::InvalidateItem(int index) {
  if (index >= 0 && index < GetCount()) viewport()->update(GetItemRect(index));
}

void CListBoxCH::EnsureVisible(int index) {
  if (index < 0) return;
  QScrollBar* bar = verticalScrollBar();
  if (index < bar->value()) {
    bar->setValue(index);
  } else if (index >= bar->value() + VisibleRows()) {
    bar->setValue(index - VisibleRows() + 1);
  }
}

int CListBoxCH::VisibleRows() const { return std::max(viewport()->height() / kRowHeight, 1); }

void CListBoxCH::UpdateScrollRange() {
  // Scrolls by whole rows: the scroll value is the top row.
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, std::max(GetCount() - VisibleRows(), 0));
  bar->setPageStep(VisibleRows());
  bar->setSingleStep(1);
}

}  // namespace callsink
