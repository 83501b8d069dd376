#include "manager/window/dialog_builder.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace callsink {

DialogBuilder::DialogBuilder(QDialog* dialog, int width, int height)
    : dialog_(dialog), units_(dialog->font()) {
  dialog_->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  dialog_->setFixedSize(units_.Size(width, height));
}

QGroupBox* DialogBuilder::Group(const char* title, int x, int y, int width, int height) const {
  auto* group = new QGroupBox(QString::fromLatin1(title), dialog_);
  group->setGeometry(units_.Rect(x, y, width, height));
  // Controls inside a group are the dialog's, drawn above the frame.
  group->lower();
  return group;
}

QLabel* DialogBuilder::Label(const char* text, int x, int y, int width, int height) const {
  auto* label = new QLabel(QString::fromLatin1(text), dialog_);
  QRect rect = units_.Rect(x, y, width, height);
  // A font wider than the layout's never cuts a label short.
  rect.setWidth(std::max(rect.width(), label->sizeHint().width()));
  label->setGeometry(rect);
  return label;
}

QLineEdit* DialogBuilder::Edit(int id, int x, int y, int width, int height) const {
  auto* edit = new QLineEdit(dialog_);
  Place(edit, "edit", id, x, y, width, height);
  return edit;
}

QPushButton* DialogBuilder::Button(int id, const char* caption, int x, int y, int width,
                                   int height) const {
  auto* button = new QPushButton(QString::fromLatin1(caption), dialog_);
  Place(button, "button", id, x, y, width, height);
  return button;
}

QComboBox* DialogBuilder::DropDownList(int id, int x, int y, int width, int height) const {
  auto* combo = new QComboBox(dialog_);
  combo->setEditable(false);
  const QRect rect = units_.Rect(x, y, width, height);
  combo->setGeometry(rect.x(), rect.y(), rect.width(), combo->sizeHint().height());
  combo->setObjectName(QStringLiteral("combo_%1").arg(id));
  // The opened list ends where the layout's full height does.
  const int row_height = std::max(combo->view()->sizeHintForRow(0), units_.base_y());
  combo->setMaxVisibleItems(std::max((rect.height() - combo->height()) / row_height, 1));
  return combo;
}

void DialogBuilder::Place(QWidget* control, const char* kind, int id, int x, int y, int width,
                          int height) const {
  control->setGeometry(units_.Rect(x, y, width, height));
  control->setObjectName(QStringLiteral("%1_%2").arg(QString::fromLatin1(kind)).arg(id));
}

}  // namespace callsink
